#pragma once

#include <QWidget>

#include <functional>

class QAbstractItemView;
class QLabel;
class QLineEdit;

namespace vm::display {

// A labelled find box over a list: what is typed narrows the list to the entries that
// contain it (case ignored, blanks around it ignored). The windows that list hundreds of
// readers or cameras (Add Camera, the camera bar's Find Camera, the network overview) use
// it, so that finding behaves the same in all of them. The captions are the window's.
//
// Keys: with setList(), Up, Down, Page Up and Page Down in the box move through the list
// while the focus stays in the box, so that typing and choosing need no change of focus.
// With setEnterList(), Down and Enter in the box hand over to the list instead (the
// callback says whether there was an entry to go to).
class FindBox final : public QWidget {
    Q_OBJECT
public:
    // `clearName` names the box's clear button for screen readers (the button has only an icon).
    FindBox(const QString& label, const QString& accessibleName, const QString& placeholder,
            const QString& clearName, QWidget* parent = nullptr);

    // Whether an entry's text is left by the word (an empty word leaves everything).
    static bool matches(const QString& text, const QString& word);

    QLineEdit* edit() const { return m_edit; }
    QLabel* label() const { return m_label; }
    // The typed text without the blanks around it.
    QString word() const;
    // Empties the box without telling anyone (the list is being filled anew).
    void clearQuietly();

    void setList(QAbstractItemView* list);
    void setEnterList(std::function<bool()> enterList);

signals:
    void wordChanged(const QString& word);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_label = nullptr;
    QLineEdit* m_edit = nullptr;
    QAbstractItemView* m_list = nullptr;
    std::function<bool()> m_enterList;
};

} // namespace vm::display
