// A painter kept by a widget that paints up to 25 times a second: made once with the widget,
// begun for each paint and ended when the paint is done. A painter made for every paint costs a
// heap allocation of its own each time.
#pragma once

class QPaintDevice;

namespace kvor_ui {

// Begins the kept painter on the device for one paint, and ends it on leaving.
template <class Painter>
class PaintScope {
  public:
    PaintScope(Painter &painter, QPaintDevice *device) : painter_(painter) { painter_.begin(device); }
    ~PaintScope() {
        if (painter_.isActive()) painter_.end();
    }
    PaintScope(const PaintScope &) = delete;
    PaintScope &operator=(const PaintScope &) = delete;

  private:
    Painter &painter_;
};

} // namespace kvor_ui
