#pragma once
// What the compile and encrypt commands need of the script compiler, filled
// in by the program when a compiler is linked in. Until then no tools are
// set, and both commands fail without a message of their own.
class ScriptTools {
public:
  virtual ~ScriptTools() = default;
  // The compiler's command line (program path first); the number of errors.
  virtual int RunCommandLine(int argc, char** argv) = 0;
  // Loads a source into the tools' script object; false when it cannot.
  virtual bool Load(const char* path) = 0;
  // Saves the loaded script; the extension chooses the form. False when the
  // file was not written.
  virtual bool Save(const char* path) = 0;
  // Drops the loaded script.
  virtual void Clear() = 0;
};

// Not owned; null takes the tools away.
void SetScriptTools(ScriptTools* tools);
ScriptTools* GetScriptTools();
