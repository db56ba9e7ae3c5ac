// The yardstick for the footprint benchmark: Qt's minimal dialog program, nothing but a
// QApplication and an empty QDialog, built the same way as perennix. With --label the dialog
// shows one line of Chinese text, the least a Chinese user interface costs (fonts, shaping).

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <cstring>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("MinimalQDialog"));
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0)
        new QLabel(QStringLiteral("介绍：守护目标程序正常运行，若没有运行，则自动启动："), &dialog);
    dialog.show();
    return application.exec();
}
