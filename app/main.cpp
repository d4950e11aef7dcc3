#include <QApplication>
#include <QWidget>

// Placeholder start-up until the main window lands: an empty titled window.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Velmora网络音乐播放器BY TELVARO"));
    window.resize(530, 272);
    window.show();
    return QApplication::exec();
}
