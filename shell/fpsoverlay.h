#pragma once

#include "display/drawcontext.h"

#include <QString>

namespace vm::shell {

// Draws "FPS = " and the mean frame rate in the image's top-left corner.
class FramesPerSecondOverlay : public vm::display::VxDrawObj {
public:
    void SetRate(double rate) { m_rate = rate; }
    double Rate() const { return m_rate; }
    // The text as shown, the rate formatted with one decimal ("#0.0").
    QString Text() const;
    void Draw(vm::display::DrawContext& context) const override;

private:
    double m_rate = 0.0;
};

} // namespace vm::shell
