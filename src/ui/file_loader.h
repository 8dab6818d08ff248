// Loads added files off the window's thread: each file is probed, set up as a conversion, its
// first picture taken for the preview, and everything it held open let go again, on a small
// pool of worker threads. The results reach the window's thread in the order the files were
// added, through queued calls; the workers never touch a widget.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/conversion_load.h"
#include "app/remembered_batch.h"
#include "converter/av_converter.h"
#include "medialib/bgr_image.h"

// One file's load, as it comes back.
struct TFileLoad {
  uint64_t Serial = 0; // as Add returned it
  std::string FileName;
  bool OK = false;
  std::string Error;                             // the message the user is shown when not OK
  std::unique_ptr<TCustomAVConverter> Converter; // parked: no task, probe closed
  TLoadedConversion Loaded;
  TBGRImage Preview;                  // the first picture fitted into the panel's preview box
  std::string AVCFolder, MPEG4Folder; // the output folders it was loaded for
  TRememberedJob Asked;               // the file with the profile and content it was added with
};

class TFileLoader : public QObject {
public:
  using TDelivery = std::function<void(TFileLoad &ALoad)>;

  // ADeliver runs on the window's thread for each file, in the order added.
  explicit TFileLoader(TDelivery ADeliver, QObject *AParent = nullptr);
  // Waits for the files being loaded; their claims and those not delivered yet are given up.
  ~TFileLoader() override;

  // Returns the load's serial. APreviewW 0: no preview picture is taken.
  uint64_t Add(const std::string &AFileName, int AProfileIndex, const std::string &ALibraryPath,
               const std::string &AAVCFolder, const std::string &AMPEG4Folder, int APreviewW,
               int APreviewH, const TContentChoice &AChoice = TContentChoice());
  // Files added and not delivered yet.
  int Pending() const;
  // Them as they were added, in that order.
  std::vector<TRememberedJob> PendingFiles() const;
  // Forgets the files not delivered yet (the list was cleared): their claims are given up.
  void Cancel();

private:
  struct TJob {
    uint64_t Serial;
    std::string FileName, LibraryPath, AVCFolder, MPEG4Folder;
    int Profile, PreviewW, PreviewH;
    TContentChoice Choice;
  };
  void Work();
  static void Load(const TJob &AJob, TFileLoad &AResult);
  void DeliverReady();

  TDelivery FDeliver;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<TJob> FJobs;
  std::map<uint64_t, TFileLoad> FDone;
  // Serials: of the next file added, of the next to hand over, and below which files are dropped
  // (added before the last Cancel). Written on the window's thread only.
  uint64_t FNextSerial = 0;
  uint64_t FNextDelivery = 0;
  uint64_t FCancelledBelow = 0;
  // The names of the files not delivered yet, by serial. Window's thread only.
  std::map<uint64_t, TRememberedJob> FPendingNames;
  bool FDeliveryPosted = false;
  bool FStopping = false;
  std::vector<std::thread> FWorkers;
};
