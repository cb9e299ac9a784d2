#pragma once

#include <QString>
#include <QWidget>

class QLineEdit;
class QMenu;
class QToolButton;

namespace vm::io {

// A one-line editor of a reader format string with a keyword button: its menu inserts the
// reader's format keywords, cycle-data fields and image-data fields at the caret. Editing
// ends (OnEdit) when the focus leaves the control or Enter is pressed.
class EditFormatString final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(QString key READ key WRITE setKey)
    Q_PROPERTY(bool CDEnabled READ cdEnabled WRITE setCdEnabled)
public:
    explicit EditFormatString(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QString key() const { return m_key; }
    void setKey(const QString& key) { m_key = key; }
    bool cdEnabled() const { return m_cdEnabled; }
    void setCdEnabled(bool enabled) { m_cdEnabled = enabled; }

    // Ends the edit: raises OnEdit with the key and the text.
    void CloseEdit();

    QLineEdit* editor() const { return m_edit; }
    QToolButton* keywordButton() const { return m_btnKeyword; }
    QMenu* keywordMenu() const { return m_menuPopup; }
    QMenu* cycleDataMenu() const { return m_menuCycleData; }

    // Inserts at the caret (the start of a selection, which stays); the caret follows it.
    void insertAtCaret(const QString& inserted);

signals:
    void OnEdit(const QString& key, const QString& text);
    // Every change of the text, typed or inserted.
    void textChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMenu();
    void focusLeft();

    QLineEdit* m_edit = nullptr;
    QToolButton* m_btnKeyword = nullptr;
    QMenu* m_menuPopup = nullptr;
    QMenu* m_menuCycleData = nullptr;
    QString m_key;
    bool m_cdEnabled = true;
};

} // namespace vm::io
