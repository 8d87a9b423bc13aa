#pragma once
// Vertex programs and texture combiners (pixel programs) of a display. Their
// texts are registered once per process under library or program names; a
// display's managers make programs of them. Every constant, register and
// begin or end is recorded on the display.
#include <string>
#include <vector>

#include "Vak/plugins/ReferenceCount.h"
#include "engine/dorvix/Colour.h"

namespace Vak {

class Display;
class RenderKernel;

// What a creation answers beside its code.
struct ProgramResult {
  int code = 0;
};

// The texts registered so far, by name; a name registered again replaces
// its text and counts as a registration.
class BuiltInPrograms {
public:
  void Register(const char* name, const char* text);
  // Null when the name was never registered.
  const std::string* Find(const std::string& name) const;
  unsigned Registrations() const { return registrations_; }
  void Clear();

private:
  std::vector<std::pair<std::string, std::string>> texts_;
  unsigned registrations_ = 0;
};

class VertexProgram : public ReferenceCount {
public:
  VertexProgram(Display* display, std::string library, std::string name)
      : display_(display), library_(std::move(library)), name_(std::move(name)) {}
  const std::string& GetLibrary() const { return library_; }
  const std::string& GetName() const { return name_; }
  Display* GetDisplay() const { return display_; }
  // How many vertices the program's palette indices reach.
  unsigned GetIndexRange() const { return indexRange_; }
  void SetIndexRange(unsigned vertices) { indexRange_ = vertices; }
  static void SetLocalConstant(VertexProgram* program, int index, float x, float y, float z, float w);

private:
  Display* display_;
  std::string library_;
  std::string name_;
  unsigned indexRange_ = 0;
};

class VertexProgramManager {
public:
  explicit VertexProgramManager(Display* display) : display_(display) {}
  static void RegisterBuiltInPrograms(const char* library, const char* text);
  static BuiltInPrograms& Registered();
  // 0 with a new program in `out` when the library is registered and its
  // text declares the program; else 1 and null.
  int Create(ProgramResult& result, RenderKernel* kernel, VertexProgram*& out, const char* library, const char* name,
             int type, int flags, const void* defines, const void* options);
  // Creations of this name fail from now on (empty: none do).
  void SetFailing(std::string name) { failing_ = std::move(name); }

private:
  Display* display_;
  std::string failing_;
};

class TextureCombiner : public ReferenceCount {
public:
  TextureCombiner(Display* display, std::string name) : display_(display), name_(std::move(name)) {}
  const std::string& GetName() const { return name_; }
  static void SetConstantRegister(TextureCombiner* combiner, int index, const Colour& colour);
  void Begin();
  void End();

private:
  Display* display_;
  std::string name_;
};

class TextureCombinerManager {
public:
  explicit TextureCombinerManager(Display* display) : display_(display) {}
  static void RegisterBuiltInPrograms(const char* name, const char* text);
  static BuiltInPrograms& Registered();
  // 0 with a new combiner when its text is registered; else 1 and null.
  int Create(ProgramResult& result, RenderKernel* kernel, TextureCombiner*& out, const char* name,
             const void* options);
  void SetFailing(std::string name) { failing_ = std::move(name); }

private:
  Display* display_;
  std::string failing_;
};

} // namespace Vak
