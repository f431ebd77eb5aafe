// The main window as far as start-up needs it: a skinned top-level window with the
// program's title and the logged-in user's nickname. The full window replaces this class.
#pragma once

#include <QWidget>

class CMainFrame : public QWidget {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Creates the window with `title`, bound to the skin window "mainframe" when a skin is
    // loaded. False when there is nothing to show.
    bool Create(const char16_t* title);

private:
    bool m_bBound = false;
};
