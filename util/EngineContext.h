#pragma once
// The engine objects that start-up creates, handed to the data manager and to
// every command. Shutdown deletes them and clears each pointer.
namespace Vak {
class OS;
class RenderKernel;
class ResourceSystem;
} // namespace Vak

struct EngineContext {
  Vak::ResourceSystem* resources = nullptr;
  Vak::RenderKernel* render = nullptr;
  // Kept for the application and its second word; this program leaves both empty.
  void* application = nullptr;
  void* applicationWord = nullptr;
  Vak::OS* os = nullptr;
  // No view here: the data manager's scene gets no light and no fog.
  void* view = nullptr;
};
