// translation-editor [--add-texts FILE] [ui.local]
// Without --add-texts: opens the window on the file (by default the
// "ui.local" beside this program). With it: merges the texts of FILE (UTF-8,
// one per line) and the always-present design texts into the file and saves
// it, without a window; the build makes the shipped "ui.local" this way.

#include "toolkit/uiLanguage.h"
#include "tools/translation-editor/EditorModel.h"
#include "tools/translation-editor/EditorWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>

namespace {

int usage() {
  std::fprintf(stderr, "usage: translation-editor [--add-texts FILE] [ui.local]\n");
  return 2;
}

int addTexts(const QString& textsFile, const QString& path) {
  QFile file(textsFile);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "translation-editor: cannot read %s\n", qPrintable(textsFile));
    return 1;
  }
  if (file.size() > kMaxLanguageFileSize) {
    std::fprintf(stderr, "translation-editor: %s is too large\n", qPrintable(textsFile));
    return 1;
  }
  const QStringList texts = SplitLanguageLines(QString::fromUtf8(file.readAll()));

  TranslationEditorModel model;
  QString error;
  if (!model.Open(path, &error)) {
    std::fprintf(stderr, "translation-editor: %s; the file is left as it is\n", qPrintable(error));
    return 1;
  }
  int added = model.MergeTexts(texts);
  for (const char* text : kDesignTimeTexts) added += model.AddText(QString::fromLatin1(text)) ? 1 : 0;
  if (!model.Save(path, &error)) {
    std::fprintf(stderr, "translation-editor: %s\n", qPrintable(error));
    return 1;
  }
  std::printf("%d texts added to %s\n", added, qPrintable(path));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QString textsFile;
  QString path;
  bool batch = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--add-texts") == 0) {
      if (i + 1 >= argc) return usage();
      textsFile = QString::fromLocal8Bit(argv[++i]);
      batch = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || argv[i][0] == '-') {
      return usage();
    } else if (path.isEmpty()) {
      path = QString::fromLocal8Bit(argv[i]);
    } else {
      return usage();
    }
  }
  if (batch) {
    QCoreApplication app(argc, argv);
    if (path.isEmpty()) path = QDir(QCoreApplication::applicationDirPath()).filePath("ui.local");
    return addTexts(textsFile, path);
  }
  QApplication app(argc, argv);
  if (path.isEmpty()) path = QDir(QCoreApplication::applicationDirPath()).filePath("ui.local");
  EditorWindow window(path);
  window.show();
  return app.exec();
}
