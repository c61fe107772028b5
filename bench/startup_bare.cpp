// The yardstick for bench_startup: a bare Qt Widgets window of the main
// window's size, reporting its first paint the way the program does and
// quitting at once.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class TBareWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent* event) override
    {
        QWidget::paintEvent(event);
        if (reported_)
            return;
        reported_ = true;
        QTimer::singleShot(0, this, [this] {
            std::fputs("bare: window shown\n", stdout);
            std::fflush(stdout);
            close();
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
    TBareWindow window;
    window.setWindowTitle("Bare window");
    window.resize(800, 600);
    window.show();
    return app.exec();
}
