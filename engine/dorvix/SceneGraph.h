#pragma once
// The render kernel's scene graph: the scenes it draws and the elements
// handed over for deletion, freed by a purge once nothing draws them.
#include <cstddef>
#include <vector>

namespace Vak {

class SceneGraph;

// Anything the scene graph can hold; derived scene objects live above.
class SceneElement {
public:
  SceneElement() = default;
  SceneElement(const SceneElement&) = delete;
  SceneElement& operator=(const SceneElement&) = delete;
  // Leaves the graph it is a scene of.
  virtual ~SceneElement();

  SceneGraph* Graph() const { return graph_; }

private:
  friend class SceneGraph;
  SceneGraph* graph_ = nullptr;
};

class SceneGraph {
public:
  SceneGraph() = default;
  SceneGraph(const SceneGraph&) = delete;
  SceneGraph& operator=(const SceneGraph&) = delete;
  // Unlinks the scenes (not owned) and deletes what awaits deletion.
  ~SceneGraph();

  // Nothing when the element is a scene of this graph already; an element
  // of another graph leaves that one first.
  void AddScene(SceneElement* element);
  // False when the element is no scene of this graph.
  bool Unlink(SceneElement* element);
  bool Contains(const SceneElement* element) const;
  std::size_t SceneCount() const { return scenes_.size(); }

  // Takes ownership; the element is deleted by the next purge.
  void QueueDeletion(SceneElement* element);
  void PurgeDeleted();
  std::size_t AwaitingDeletion() const { return awaiting_.size(); }

private:
  std::vector<SceneElement*> scenes_;
  std::vector<SceneElement*> awaiting_;
};

} // namespace Vak
