// The staged style sheets must parse: Qt drops a sheet with a syntax error
// as a whole and only says so with a warning, leaving the windows unstyled.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QStringList g_warnings;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_warnings << text;
}

class SkinStyle : public ::testing::TestWithParam<const char*> {};

TEST_P(SkinStyle, SheetParsesAndStylesTheWidgets) {
    QFile f(QStringLiteral(MOUSE_PROGRAM_DIR "/images/") + QLatin1String(GetParam()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(f.readAll());
    ASSERT_FALSE(sheet.trimmed().isEmpty());

    int argc = 1;
    char name[] = "skin-style-test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);

    QWidget root;
    root.setStyleSheet(sheet);
    auto* layout = new QVBoxLayout(&root);
    auto* dpi = new QPushButton(QStringLiteral("DPI1"));
    dpi->setProperty("skinStyle", QStringLiteral("MyDPIBtnA"));
    layout->addWidget(dpi);
    layout->addWidget(new QPushButton(QStringLiteral("OK")));
    layout->addWidget(new QLabel(QStringLiteral("ms")));
    layout->addWidget(new QLineEdit);
    layout->addWidget(new QSpinBox);
    layout->addWidget(new QCheckBox(QStringLiteral("Diffirent X/Y setting")));
    layout->addWidget(new QRadioButton(QStringLiteral("125Hz")));
    layout->addWidget(new QSlider(Qt::Horizontal));
    layout->addWidget(new QListWidget);
    auto* tabs = new QTabWidget;
    tabs->addTab(new QWidget, QStringLiteral("General"));
    layout->addWidget(tabs);
    root.resize(300, 400);
    const QImage shot = root.grab().toImage();
    qInstallMessageHandler(previous);

    EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join(QLatin1Char('\n')).toStdString();
    // The active DPI button is painted in the accent red, not the default grey.
    const QColor c = shot.pixelColor(dpi->geometry().center() + QPoint(0, dpi->height() / 4));
    EXPECT_GT(c.red(), 2 * c.green()) << c.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Staged, SkinStyle, ::testing::Values("ui.vgstyle", "uimacro.vgstyle"));

}  // namespace
