#pragma once
// The image cache of the skin pictures: each picture file is decoded once per
// process and copied into the windows' images on request. Pictures are kept
// as QImage, so the cache needs no display.
//
// The windows name skin folders in mixed letter case ("Buttons" and
// "buttons", "Images" and "images"); ResolveProgramPath is the one place that
// maps such a path onto the spelling found on disk.

#include <QImage>
#include <QString>

#include <vector>

// The folder of the running executable, where the skin and data files lie.
QString ProgramFolder();

// `path` with backslashes taken as separators and, when it lies inside
// `programFolder`, every component below that folder that does not exist as
// spelled replaced by the first entry of its folder (in name order) that
// matches it regardless of letter case. Returns the path unchanged (with
// separators normalised) when it lies elsewhere or nothing matches.
QString ResolveProgramPath(const QString& path, const QString& programFolder = ProgramFolder());

// One cached picture.
struct TuiImageData {
  QString ImageName;  // the bare file name it was requested under: the key
  QString ImagePath;  // where it was loaded from
  QImage Image;       // never empty
};

class TImageDataBase {
 public:
  // Base folder: the program folder.
  TImageDataBase();
  // Base folder `APath`; paths inside `programFolder` resolve regardless of
  // letter case.
  explicit TImageDataBase(const QString& APath, const QString& programFolder = ProgramFolder());

  QString ImageDBPath() const { return FBasePath; }
  // Stores the base folder with a trailing separator (an empty path stays
  // empty), drops every cached picture and makes the folder the search path
  // "skin:" through which the style sheets name their pictures.
  void SetImageBasePath(const QString& APath);

  // Puts the picture `AImageName` into `ATargetImage`: "EMPTY" (exactly)
  // empties it; a cached picture of that name is copied whatever the folder;
  // otherwise the file AImagePath + AImageName, or base folder + AImageSubPath
  // + "/" + AImageName when AImagePath is empty, is loaded and cached. A file
  // that is missing or does not decode leaves the target unchanged and is
  // not cached.
  void AssignIMAGE(QImage& ATargetImage, const QString& AImageName, const QString& AImageSubPath,
                   const QString& AImagePath);
  // A copy of the picture, from AImagePath + AImageName or the base folder +
  // AImageName; an empty image when it cannot be loaded.
  QImage IMAGE(const QString& AImageName, const QString& AImagePath);

  const std::vector<TuiImageData>& Entries() const { return IMGDB; }

 private:
  const TuiImageData* find(const QString& name) const;
  const TuiImageData* load(const QString& name, const QString& path);

  QString FBasePath;
  QString FProgramFolder;
  std::vector<TuiImageData> IMGDB;
};

// The process's one cache; base folder: the program folder + "Images/0409/".
TImageDataBase& ImageDataBase();
