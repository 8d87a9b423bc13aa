#pragma once
// Geometry whose detail can be scaled continuously: a maximum detail value
// (triangles, for a mesh) and the detail asked for last.
namespace Vak {

class ScalableDetail {
public:
  virtual ~ScalableDetail() = default;

  // Starts at full detail.
  void InitScalableDetail(int maximum) {
    maximum_ = maximum < 0 ? 0 : maximum;
    wanted_ = maximum_;
  }
  int GetMaxDetail() const { return maximum_; }
  int GetWantedDetail() const { return wanted_; }
  // Asks for `detail` (kept within 0 and the maximum); the geometry
  // follows as closely as its steps allow.
  void SetDetail(int detail) {
    wanted_ = detail < 0 ? 0 : detail > maximum_ ? maximum_ : detail;
    ApplyDetail(wanted_);
  }

protected:
  virtual void ApplyDetail(int) {}
  void CopyScalableDetail(const ScalableDetail& from) {
    maximum_ = from.maximum_;
    wanted_ = from.wanted_;
  }

private:
  int maximum_ = 0;
  int wanted_ = 0;
};

} // namespace Vak
