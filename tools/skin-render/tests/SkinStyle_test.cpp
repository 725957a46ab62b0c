// The staged style sheets must parse: Qt drops a sheet with a syntax error
// as a whole and only says so with a warning, leaving the windows unstyled.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStyle>
#include <QStyleOptionSpinBox>
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

// Every picture a sheet names through "skin:" is staged, and the number
// boxes' up and down buttons show two different, drawn arrows.
TEST_P(SkinStyle, NumberBoxArrowsArePictures) {
    const QString base = QStringLiteral(MOUSE_PROGRAM_DIR "/Images/0409");
    QFile f(QStringLiteral(MOUSE_PROGRAM_DIR "/images/") + QLatin1String(GetParam()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(f.readAll());
    const QRegularExpression url(QStringLiteral("url\\(skin:([^)]+)\\)"));
    int named = 0;
    for (const QRegularExpressionMatch& m : url.globalMatch(sheet)) {
        ++named;
        EXPECT_TRUE(QFileInfo(base + u'/' + m.captured(1)).isFile()) << m.captured(1).toStdString();
    }
    EXPECT_GE(named, 2);

    int argc = 1;
    char name[] = "skin-style-test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QDir::setSearchPaths(QStringLiteral("skin"), {base});
    QWidget root;
    root.setStyleSheet(sheet);
    auto* box = new QSpinBox(&root);
    box->setRange(100, 3500);
    box->setValue(800);
    box->setGeometry(10, 10, 100, 26);
    root.resize(120, 46);
    const QImage shot = root.grab().toImage();

    QStyleOptionSpinBox option;
    option.initFrom(box);
    option.rect = box->rect();
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    auto part = [&](QStyle::SubControl sc) {
        const QRect r = box->style()->subControlRect(QStyle::CC_SpinBox, &option, sc, box);
        return shot.copy(r.translated(box->pos()));
    };
    const QImage up = part(QStyle::SC_SpinBoxUp), down = part(QStyle::SC_SpinBoxDown);
    ASSERT_FALSE(up.isNull());
    ASSERT_EQ(up.size(), down.size());
    auto colours = [](const QImage& image) {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) seen.insert(image.pixel(x, y));
        return seen.size();
    };
    // Not a plain bar: an arrow of several shades on the button.
    EXPECT_GT(colours(up), 2);
    EXPECT_GT(colours(down), 2);
    EXPECT_NE(up, down);
}

INSTANTIATE_TEST_SUITE_P(Staged, SkinStyle, ::testing::Values("ui.vgstyle", "uimacro.vgstyle"));

}  // namespace
