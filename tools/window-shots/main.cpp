// window-shots <folder>: draws every window and dialog of the configurator
// offscreen into <folder>/<name>.png, once at the shipped font sizes and
// once with the "0419" language's sizes (<name>-0419.png), from the skin in
// the build's program folder. For looking at, not for asserting.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <functional>

#include "configurator/HelpUnit.h"
#include "configurator/MainConfig.h"
#include "configurator/fireset.h"
#include "device/DMUnit.h"
#include "device/pubunit_quindle.h"
#include "macro/SingleKeyfrm.h"
#include "macro/combofrm.h"
#include "macro/dlgLeaveMacroWithErrors.h"
#include "macro/macrocreat.h"
#include "macro/macrofrm.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/FakeHidBackend.h"
#include "platform/RegistryStore.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/LanguageFile.h"
#include "toolkit/QtFileChooser.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuEx.h"
#include "tools/translation-editor/EditorWindow.h"

namespace {

QString gOut, gSuffix;
int gWritten = 0;

void Save(QWidget* w, const QString& name) {
  QCoreApplication::processEvents();
  const QString file = QDir(gOut).filePath(name + gSuffix + QStringLiteral(".png"));
  if (w->grab().save(file)) {
    ++gWritten;
    std::printf("%s\n", qPrintable(file));
  } else {
    std::fprintf(stderr, "window-shots: cannot write %s\n", qPrintable(file));
  }
}

// Grabs the next modal window of type T, then closes it.
template <class T>
void ShootModal(const QString& name, std::function<void(T*)> prepare = {}) {
  QTimer::singleShot(0, [name, prepare] {
    auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!w) {
      std::fprintf(stderr, "window-shots: %s did not come up\n", qPrintable(name));
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      return;
    }
    if (prepare) prepare(w);
    Save(w, name);
    if (auto* d = qobject_cast<QDialog*>(w))
      d->QDialog::done(2);
    else
      w->close();
  });
}

void MacroOf(TMACROKEYINFO& m, std::u16string_view name, int keys) {
  WriteText(m.szMacroName, name);
  m.nAutoAddDelay = 1;
  int n = 0;
  for (int k = 0; k < keys && n + 3 <= 128; ++k) {
    m.MacroList[n++] = TMACROKEY{4, 1, uint8_t('A' + k), 0};
    m.MacroList[n++] = TMACROKEY{6, 0, 120, 0};
    m.MacroList[n++] = TMACROKEY{4, 0, uint8_t('A' + k), 0};
  }
  m.MacroListCount = uint16_t(n);
}

void ShootAll(const QString& programFolder, const QString& languageFile, int language) {
  QTemporaryDir home;
  auto store = platform::openSqliteRegistryStore(home.filePath(QStringLiteral("registry.sqlite")));
  TDM dm(TDMEnvironment{store.get(), programFolder, home.filePath(QStringLiteral("Documents"))});
  dm.InitData();
  dm.FAllProfileSettingInfo.CurrentLanguage = language;
  TMarvaneEnvironment env;
  env.DM = &dm;
  env.HidBackend = std::make_shared<platform::FakeHidBackend>();
  env.ProgramFolder = programFolder;
  env.LanguageFile = languageFile;
  env.StartMonitor = [] {};
  TMarvaneMain w(std::move(env));
  w.show();
  const char* tabs[3] = {"general", "light", "advanced"};
  for (int i = 0; i < 3; ++i) {
    w.TabControlMain->setCurrentIndex(i);
    Save(&w, QStringLiteral("marvane-%1").arg(QLatin1String(tabs[i])));
  }
  // The second default profile: a colour no swatch holds.
  w.BtnProfile[1]->click();
  w.TabControlMain->setCurrentIndex(1);
  Save(&w, QStringLiteral("marvane-light-profile2"));
  w.TabControlMain->setCurrentIndex(0);
  w.APPLYAniIndicator->show();
  Save(&w, QStringLiteral("marvane-applying"));
  w.APPLYAniIndicator->hide();
  // The longest caption of the button menu on one assignment button.
  const QString backward = w.BtnSet[4]->text();
  w.BtnSet[4]->setText(Translate(QStringLiteral("Mute(microphone)")));
  Save(&w, QStringLiteral("marvane-long-caption"));
  w.BtnSet[4]->setText(backward);

  w.BtnLoadProfile->click();
  if (QWidget* popup = w.uiMenuEx3->Items().PopupWidget()) Save(popup, QStringLiteral("menu-preset"));
  w.uiMenuEx3->Items().CloseAllPopups();
  w.BtnSetClick(2);
  if (QWidget* popup = w.uiMenuEx1->Items().PopupWidget()) Save(popup, QStringLiteral("menu-button"));
  w.uiMenuEx1->Items().CloseAllPopups();

  // The message dialog with a text that wraps and one that does not.
  {
    TFrmMessageDialog longOne(&w);
    longOne.SetTexts(QStringLiteral("RESET"),
                     QStringLiteral("Are you sure you want to reset the current settings of every profile back to the "
                                    "values the mouse was installed with? This cannot be undone."),
                     QStringLiteral("Macro will be retained"));
    Save(&longOne, QStringLiteral("dialog-message-long"));
    TFrmMessageDialog shortOne(&w);
    shortOne.SetTexts(QStringLiteral("Warning"), QStringLiteral("Please connect the mouse first."), QString());
    Save(&shortOne, QStringLiteral("dialog-message-short"));
  }
  // What the start says of a settings store that is no database, and what
  // Apply says when the store cannot be opened at all: the longest texts a
  // message dialog holds.
  {
    QTemporaryDir broken;
    const QString damaged = broken.filePath(QStringLiteral("damaged/registry.sqlite"));
    QDir().mkpath(broken.filePath(QStringLiteral("damaged")));
    QFile f(damaged);
    if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(8192, 'q'));
    f.close();
    const platform::RegistryStoreAtStart opened = platform::openSqliteRegistryStoreAtStart(damaged);
    TFrmMessageDialog notice(&w);
    notice.SetTexts(QStringLiteral("Warning"), opened.notice, QString());
    Save(&notice, QStringLiteral("store-damaged-notice"));

    // The store's folder is a file: nothing can open it.
    QFile blocker(broken.filePath(QStringLiteral("cfg")));
    if (blocker.open(QIODevice::WriteOnly)) blocker.close();
    platform::RegistryStoreAtStart unopened =
        platform::openSqliteRegistryStoreAtStart(broken.filePath(QStringLiteral("cfg/gaming-mouse/registry.sqlite")));
    TDM brokenDm(TDMEnvironment{unopened.store.get(), programFolder, broken.filePath(QStringLiteral("Documents"))});
    brokenDm.InitData();
    brokenDm.FAllProfileSettingInfo.CurrentLanguage = language;
    TMarvaneEnvironment brokenEnv;
    brokenEnv.DM = &brokenDm;
    // Apply goes as far as the store only with a mouse: the emulated one.
    emulator::testing::EmulatorProcess mouse;
    if (!mouse.start()) std::fprintf(stderr, "window-shots: no emulated mouse: %s\n", mouse.lastError().c_str());
    brokenEnv.HidBackend = platform::makeEmulatorHidBackend(mouse.socketPath());
    brokenEnv.ProgramFolder = programFolder;
    brokenEnv.LanguageFile = languageFile;
    brokenEnv.StartMonitor = [] {};
    TMarvaneMain unsaved(std::move(brokenEnv));
    unsaved.show();
    // Apply's last word, kept and then drawn: Apply asks other questions
    // on its way, which the answer hook answers.
    QString said;
    SetMessageDialogAnswer([&said](const QString&, const QString& text, const QString&) {
      said = text;
      return 1;
    });
    unsaved.ApplySettings();
    SetMessageDialogAnswer({});
    TFrmMessageDialog notSaved(&w);
    notSaved.SetTexts(QStringLiteral("Warning"), said, QString());
    Save(&notSaved, QStringLiteral("store-apply-not-saved"));
  }

  ShootModal<TFrmMessageDialog>(QStringLiteral("dialog-message"));
  ShowMessageDialog(Translate(QStringLiteral("Reset This Profile")),
                    Translate(QStringLiteral("Are you sure you want to reset this profile ?")),
                    Translate(QStringLiteral("Reset the current profile back to factory setting.")), &w);
  // A warning of settings that could not be stored: several long lines.
  ShootModal<TFrmMessageDialog>(QStringLiteral("dialog-message-long"));
  ShowMessageDialog(Translate(QStringLiteral("Warning")),
                    QStringLiteral("Not saved: ProfileSettingGroup.pfd (database is locked)\n"
                                   "Not saved: ALLPROFILE.pfd (disk I/O error)\n"
                                   "Not saved: Profile 1, Profile 2 (No space left on device)\n"
                                   "Not saved: /home/player/Documents/Gaming Mouse/Profiles/Profile5.pfd "
                                   "(Read-only file system)\n"
                                   "Not saved, never loaded: Profile 3, Profile 4"),
                    QString(), &w);

  auto list = NewZeroImage<TMACROKEYINFOLIST>();
  int index = 0;
  bool update = false;
  ShootModal<TFrmMacro>(QStringLiteral("macro-manager-empty"));
  ShowMacroManager(*list, index, home.filePath(QStringLiteral("macros")), update, &w);
  list->nMacroInfoCount = 3;
  MacroOf(list->MacroInfos[0], u"Reload", 6);
  MacroOf(list->MacroInfos[1], u"Jump", 2);
  MacroOf(list->MacroInfos[2], u"Very long macro name for the list", 1);
  ShootModal<TFrmMacro>(QStringLiteral("macro-manager"));
  ShowMacroManager(*list, index, home.filePath(QStringLiteral("macros")), update, &w);
  index = 2;  // the long name in the "Select:" box
  ShootModal<TFrmMacro>(QStringLiteral("macro-manager-long-name"));
  ShowMacroManager(*list, index, home.filePath(QStringLiteral("macros")), update, &w);

  QString name = QStringLiteral("Macro1");
  ShootModal<TFrmCreat>(QStringLiteral("dialog-create-macro"));
  ShowCreateMacroDialog(name, home.filePath(QStringLiteral("macros")), &w);
  TSINGLEKEYINFO key{};
  ShootModal<TFrmSingleKey>(QStringLiteral("dialog-single-key"));
  ShowSingleKeyDialog(key, &w);
  TCOMBOKEYINFO combo{};
  ShootModal<TFrmCombo>(QStringLiteral("dialog-combo-key"));
  ShowComboKeyDialog(combo, &w);
  ShootModal<TDlgLeaveMacroWithErrorsForm>(QStringLiteral("dialog-leave-with-errors"));
  ShowLeaveMacroWithErrorsDialog(QString(), QString(), QString(), &w);
  TFIREKEYINFO fire{};
  ShootModal<TFrmFire>(QStringLiteral("dialog-fire-key"));
  ShowFireKeyDialog(fire, &w);
  TuiLanguage help(nullptr, languageFile);
  ShootModal<THelpForm>(QStringLiteral("help-window"));
  ShowHelpForm(help, programFolder, {});

  // The translation editor, on a two-language file.
  {
    TLanguageData data;
    data.Original = {QStringLiteral("Apply"), QStringLiteral("OK")};
    data.Languages.push_back({QStringLiteral("CH"), {}});
    data.Languages.push_back({QStringLiteral("040c"), {QStringLiteral("Apply=Appliquer"), QStringLiteral("OK=D'accord")}});
    const QString file = home.filePath(QStringLiteral("editor.local"));
    if (SaveLanguageFile(file, data, nullptr)) {
      EditorWindow editor(file);
      editor.show();
      Save(&editor, QStringLiteral("translation-editor"));
    }
  }

  QtFileChooser chooser(&w);
  ShootModal<QFileDialog>(QStringLiteral("dialog-save-profile"));
  chooser.ChooseSaveFile(home.filePath(QStringLiteral("Documents")));
  ShootModal<QFileDialog>(QStringLiteral("dialog-load-profile"));
  chooser.ChooseOpenFile(home.filePath(QStringLiteral("Documents")));

  // An import refused for a field no profile of ours holds.
  struct Answering : QtFileChooser {
    using QtFileChooser::QtFileChooser;
    QString file;
    QString ChooseOpenFile(const QString&) override { return file; }
  } refusing(&w);
  refusing.file = home.filePath(QStringLiteral("Documents/Profile/From a friend.pfd"));
  {
    auto image = NewZeroImage<TMOUSEPROFILEINFO>();
    dm.ReadProfileInfo(*image, 0);
    image->ConfigInfo.CPIState[2].X = 12000;
    QFile f(refusing.file);
    if (f.open(QIODevice::WriteOnly)) f.write(reinterpret_cast<const char*>(image.get()), sizeof *image);
  }
  ShootModal<TFrmMessageDialog>(QStringLiteral("dialog-import-refused"));
  LoadProfileFileDialog(dm, refusing, home.filePath(QStringLiteral("Documents")));
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
  qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window-shots <output folder>\n");
    return 2;
  }
  gOut = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(gOut);
  const QString program = QStringLiteral(MOUSE_PROGRAM_DIR);
  ImageDataBase().SetImageBasePath(program + QStringLiteral("/Images/0409"));

  // The shipped translation file, with "0419" added as a second language
  // (its table left empty: the texts stay, the font sizes change).
  TLanguageData data;
  QString error;
  if (!LoadLanguageFile(program + QStringLiteral("/ui.local"), data, &error)) {
    std::fprintf(stderr, "window-shots: %s\n", qPrintable(error));
    return 1;
  }
  if (data.Languages.empty()) data.Languages.push_back({QStringLiteral("0409"), {}});
  data.Languages.resize(1);
  data.Languages.push_back({QStringLiteral("0419"), {}});
  const QString twoLanguages = home.filePath(QStringLiteral("ui.local"));
  if (!SaveLanguageFile(twoLanguages, data, &error)) {
    std::fprintf(stderr, "window-shots: %s\n", qPrintable(error));
    return 1;
  }
  ShootAll(program, twoLanguages, 0);
  gSuffix = QStringLiteral("-0419");
  ShootAll(program, twoLanguages, 1);
  std::printf("%d pictures in %s\n", gWritten, qPrintable(gOut));
  return gWritten > 0 ? 0 : 1;
}
