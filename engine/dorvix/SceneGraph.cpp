#include "engine/dorvix/SceneGraph.h"

#include <algorithm>

namespace Vak {

SceneElement::~SceneElement() {
  if (graph_) graph_->Unlink(this);
}

SceneGraph::~SceneGraph() {
  for (SceneElement* element : scenes_) element->graph_ = nullptr;
  scenes_.clear();
  PurgeDeleted();
}

void SceneGraph::AddScene(SceneElement* element) {
  if (!element || element->graph_ == this) return;
  if (element->graph_) element->graph_->Unlink(element);
  scenes_.push_back(element);
  element->graph_ = this;
}

bool SceneGraph::Unlink(SceneElement* element) {
  auto it = std::find(scenes_.begin(), scenes_.end(), element);
  if (it == scenes_.end()) return false;
  scenes_.erase(it);
  element->graph_ = nullptr;
  return true;
}

bool SceneGraph::Contains(const SceneElement* element) const {
  return std::find(scenes_.begin(), scenes_.end(), element) != scenes_.end();
}

void SceneGraph::QueueDeletion(SceneElement* element) {
  if (!element) return;
  Unlink(element);
  awaiting_.push_back(element);
}

void SceneGraph::PurgeDeleted() {
  // A deleted element may queue others; take the list first.
  while (!awaiting_.empty()) {
    std::vector<SceneElement*> batch;
    batch.swap(awaiting_);
    for (SceneElement* element : batch) delete element;
  }
}

} // namespace Vak
