#pragma once

#include <QListWidget>

// A list box with a fixed item height and a horizontal extent: the width the
// user can scroll through, kept by the list and read back by tests. The
// horizontal scroll bar shows when the extent exceeds the list's width.
class TListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit TListBox(QWidget *parent, int itemHeight);

    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_extent; }
    int itemHeight() const { return m_itemHeight; }

    // The selected index, -1 when no entry is selected.
    int selectedIndex() const;

signals:
    // The selection changed by the user's mouse or keyboard.
    void userSelectionChanged();

protected:
    void updateGeometries() override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_extent = 0;
    int m_itemHeight;
};

// The check list: entries in the list's own font (red) with a tick box each.
class TCheckListBox : public TListBox
{
    Q_OBJECT
public:
    explicit TCheckListBox(QWidget *parent, int itemHeight);

    // Appends an unticked entry.
    void addEntry(const QString &text);
    bool isChecked(int index) const;
    void setChecked(int index, bool checked);
};
