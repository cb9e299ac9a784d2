#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace vm::settings {

// A label for a control: its buddy, and the control's accessible name without the "&",
// so that a screen reader names the control by the caption the operator sees.
QLabel* labelFor(QWidget* control, const QString& text, QWidget* parent);
// A drop-down list or a text box under the name the window's code and tests know it by.
QComboBox* namedList(const char* name, const QStringList& items, QWidget* parent);
QLineEdit* namedBox(const char* name, QWidget* parent);

} // namespace vm::settings
