#pragma once
// Turns the annotated syntax tree of the root script into the classes and
// byte code of the library.
#include "gscompiler/CodeBuffer.h"
#include "gscompiler/CompileContext.h"
#include "gscompiler/SyntaxNode.h"

namespace GSCompiler {

// Lays out and generates every class that the root script declares into
// context.classes; false on an internal error or a failing function.
bool GenerateLibraryCode(CompileContext& context);

} // namespace GSCompiler
