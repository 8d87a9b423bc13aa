#include "engine/dorvix/VertexProgram.h"

#include "engine/dorvix/Display.h"

namespace Vak {

void BuiltInPrograms::Register(const char* name, const char* text) {
  ++registrations_;
  for (auto& entry : texts_)
    if (entry.first == name) {
      entry.second = text;
      return;
    }
  texts_.emplace_back(name, text);
}

const std::string* BuiltInPrograms::Find(const std::string& name) const {
  for (const auto& entry : texts_)
    if (entry.first == name) return &entry.second;
  return nullptr;
}

void BuiltInPrograms::Clear() {
  texts_.clear();
  registrations_ = 0;
}

void VertexProgram::SetLocalConstant(VertexProgram* program, int index, float x, float y, float z, float w) {
  if (program && program->display_)
    program->display_->Record("SetLocalConstant:" + program->name_, {double(index), x, y, z, w});
}

void VertexProgramManager::RegisterBuiltInPrograms(const char* library, const char* text) {
  Registered().Register(library, text);
}

BuiltInPrograms& VertexProgramManager::Registered() {
  static BuiltInPrograms programs;
  return programs;
}

int VertexProgramManager::Create(ProgramResult& result, RenderKernel*, VertexProgram*& out, const char* library,
                                 const char* name, int, int, const void*, const void*) {
  out = nullptr;
  const std::string* text = Registered().Find(library);
  const bool declared = text && text->find(std::string("\"") + name + "\"") != std::string::npos;
  if (!declared || failing_ == name) return result.code = 1;
  out = new VertexProgram(display_, library, name);
  return result.code = 0;
}

void TextureCombiner::SetConstantRegister(TextureCombiner* combiner, int index, const Colour& colour) {
  if (combiner && combiner->display_)
    combiner->display_->Record("SetConstantRegister:" + combiner->name_, {double(index), colour.r, colour.g, colour.b,
                                                                          colour.a});
}

void TextureCombiner::Begin() {
  if (display_) display_->Record("BeginCombiner:" + name_);
}

void TextureCombiner::End() {
  if (display_) display_->Record("EndCombiner:" + name_);
}

void TextureCombinerManager::RegisterBuiltInPrograms(const char* name, const char* text) {
  Registered().Register(name, text);
}

BuiltInPrograms& TextureCombinerManager::Registered() {
  static BuiltInPrograms programs;
  return programs;
}

int TextureCombinerManager::Create(ProgramResult& result, RenderKernel*, TextureCombiner*& out, const char* name,
                                   const void*) {
  out = nullptr;
  if (!Registered().Find(name) || failing_ == name) return result.code = 1;
  out = new TextureCombiner(display_, name);
  return result.code = 0;
}

} // namespace Vak
