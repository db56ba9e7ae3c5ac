// The yardstick for the footprint benchmark: Qt's minimal dialog program, nothing but a
// QApplication and an empty QDialog, built the same way as perennix. With --label the dialog
// shows one line of Chinese text, the least a Chinese user interface costs (fonts, shaping).
// With --widgets it holds the kinds and numbers of widgets of Perennix's main window, with
// Chinese texts, at that window's size: what the window costs with no program behind it.

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cstring>

namespace {

void AddMainWindowWidgets(QDialog& dialog)
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"), font.family()});
    QApplication::setFont(font);
    dialog.resize(537, 467);
    (new QGroupBox(QStringLiteral("设置"), &dialog))->setGeometry(10, 10, 510, 320);
    for (int i = 0; i < 10; ++i)
        (new QLabel(QStringLiteral("执行程序文件路径：%1").arg(i), &dialog))->move(20, 30 + 28 * i);
    for (int i = 0; i < 5; ++i)
        (new QLineEdit(QStringLiteral("quote-server"), &dialog))->setGeometry(150, 60 + 40 * i, 230, 24);
    (new QToolButton(&dialog))->move(470, 60);
    for (int i = 0; i < 3; ++i)
        (new QCheckBox(QStringLiteral("软件启动时自动开始"), &dialog))->move(390, 140 + 60 * i);
    for (int i = 0; i < 4; ++i)
        (new QPushButton(QStringLiteral("开始"), &dialog))->move(150 + 90 * i, 400);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("MinimalQDialog"));
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0)
        new QLabel(QStringLiteral("介绍：守护目标程序正常运行，若没有运行，则自动启动："), &dialog);
    if (argc > 1 && std::strcmp(argv[1], "--widgets") == 0)
        AddMainWindowWidgets(dialog);
    dialog.show();
    return application.exec();
}
