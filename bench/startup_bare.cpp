// The yardsticks for bench_startup: a bare Qt Widgets window of the main
// window's size, reporting its first paint the way the program does and
// quitting at once; with "--menu-bar", the same window with the main
// window's menu bar (five titles, no entries): what text on screen costs a
// Qt program before anything of its own.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

template <class Base>
class TBareWindow : public Base {
protected:
    void paintEvent(QPaintEvent* event) override
    {
        Base::paintEvent(event);
        if (reported_)
            return;
        reported_ = true;
        QTimer::singleShot(0, this, [this] {
            std::fputs("bare: window shown\n", stdout);
            std::fflush(stdout);
            this->close();
            QApplication::quit();
        });
    }

private:
    bool reported_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--menu-bar") == 0) {
        TBareWindow<QMainWindow> window;
        window.setWindowTitle("Bare window");
        for (const char* title : {"E&xit", "&Device", "&View", "Se&tup", "?"})
            window.menuBar()->addMenu(title);
        window.resize(1006, 700);
        window.show();
        return app.exec();
    }
    TBareWindow<QWidget> window;
    window.setWindowTitle("Bare window");
    window.resize(800, 600);
    window.show();
    return app.exec();
}
