#pragma once

#include <QDialog>
#include <QIcon>
#include <map>
#include <vector>

#include "app/DialogTemplate.h"

class LogConsole;
class QButtonGroup;
class RadioConfigDialog;

// The main window built from dialog template 102. Each control's objectName is its decimal id.
class MainWindow : public QDialog {
public:
    explicit MainWindow(const DialogTemplate& dialogTemplate = MainDialogTemplate());

    QWidget* Control(int id) const;
    // The id of a control of the window; 0 for any other widget or none.
    int ControlId(const QWidget* widget) const;
    LogConsole* Console() const { return m_console; }

    // As the toolkit does after initialisation: the focus goes to the first control that takes it.
    void FocusFirstControl();

    // Connects every event of the dialog's event table to its handler.
    void Bind(RadioConfigDialog& dialog);

    // Closes the window as its close box does, without a question. A message box or file chooser that is
    // open is cancelled first, a transfer is stopped, and while a command runs the window tries again
    // until the command has ended.
    void CloseWhenAllowed();

    // The size of one dialog unit in pixels, from the window's font.
    QSizeF DialogUnit() const { return m_unit; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public:
    void reject() override;

private:
    QRect ToPixels(int x, int y, int width, int height) const;
    QWidget* CreateControl(const ControlTemplate& control);

    std::map<int, QWidget*> m_controls;
    std::vector<QWidget*> m_tabOrder;
    LogConsole* m_console = nullptr;
    QButtonGroup* m_radioGroup = nullptr;
    RadioConfigDialog* m_dialog = nullptr;
    std::map<QObject*, void (RadioConfigDialog::*)()> m_focusHandlers;
    std::map<QObject*, void (RadioConfigDialog::*)()> m_tableClickHandlers;
    QSizeF m_unit;
    QSize m_baseSize;
    struct Placement {
        QWidget* widget;
        QRect placed;  // at the described size
        Growth growth;
    };
    std::vector<Placement> m_placements;
};

// The program's icon (resource 128), drawn rather than loaded.
QIcon ProgramIcon();
