// The application object: start-up before the event loop and shutdown after it.
#pragma once

#include <memory>

class CMainFrame;
class DuStyle;
class QWidget;

class CQumoApp {
public:
    CQumoApp();
    ~CQumoApp();
    CQumoApp(const CQumoApp&) = delete;
    CQumoApp& operator=(const CQumoApp&) = delete;

    // The start-up: paths, skin, single instance, login, main window. True runs the
    // event loop; false ends the program at once. ExitInstance follows in both cases.
    bool InitInstance();
    int ExitInstance();

    DuStyle* Style() const { return m_pStyle.get(); }
    // The main window once it exists (its object is made early, its window after login).
    QWidget* MainWindow() const;

private:
    std::unique_ptr<DuStyle> m_pStyle;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    int m_nExitCode = 0;
};

// The main window's title.
inline constexpr const char16_t* kMainWindowTitle = u"酷摩岚 V1.0";
