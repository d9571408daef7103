// The yardstick for TavrineMac's start: a toolkit application with one empty window of the main window's size,
// which prints "shown" once its first frame is painted and then waits to be stopped.
#include <QApplication>
#include <QWidget>

#include <cstdio>

namespace {

class EmptyWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_shown) {
            m_shown = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
    }

private:
    bool m_shown = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    EmptyWindow window;
    window.setWindowTitle(QStringLiteral("minimal_window"));
    window.resize(980, 650);
    window.show();
    return application.exec();
}
