#include "shell/fpsoverlay.h"

namespace vm::shell {

QString FramesPerSecondOverlay::Text() const {
    return QStringLiteral("FPS = ") + QString::number(m_rate, 'f', 1);
}

void FramesPerSecondOverlay::Draw(vm::display::DrawContext& context) const {
    context.SetTextColor(0x00FFFF); // yellow
    context.DrawText(8, 8, Text());
}

} // namespace vm::shell
