#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class TCheckListBox;
class TListBox;

// The main window: every control of the fixed 800 x 600 layout, the
// creation and close handlers, and the program's named operations, which
// forward to the subsystem folders.
class TForm2 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    // Creation handler: runs once, after every form-defined control exists
    // and before the window is first shown.
    void FormCreate();
    // Close handler.
    void FormClose();

    // Form-defined controls, in declaration order.
    TListBox *ListBox1 = nullptr;
    TCheckListBox *CheckListBox1 = nullptr;
    QComboBox *DriveComboBox1 = nullptr;
    TListBox *DirectoryListBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *URLLabel1 = nullptr;
    QLabel *URLLabel2 = nullptr;
    QLabel *Image2 = nullptr;
    QWidget *WebBrowser1 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createFormControls();
};

// The texts of the form definition.
namespace FormTexts {
extern const QString Label2;
extern const QString Label3;
extern const QString Label5;
extern const QString URLLabel1;
extern const QString URLLabel2;
extern const QString URLLabel1Url;
extern const QString URLLabel2Url;
} // namespace FormTexts
