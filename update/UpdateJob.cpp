#include "update/UpdateJob.h"

#include "common/Files.h"
#include "common/Format.h"
#include "update/HeaderedImage.h"

namespace edog {

// "\n\r" (not "\r\n") belongs to the text: keep it.
const char* const kNotConnectedText =
    "         USB没连接\n\r请检查电子设备与电脑是不是连接正常!";
const char* const kNothingSelectedText = "请选择要升级的文件！";
const char* const kUsbDisconnectText = "USB disconnect!\n\nCheck USB!";
const char* const kComDisconnectText = "COMx disconnect!\n\nCheck COMx port!";
const char* const kPackageMismatchText = "数据与下载工具不配对，请更换数据！";
const char* const kExtractDiskFullText = "磁盘已满，无法解压升级数据，请清理磁盘空间后再试！";
const char* const kExtractWriteFailedText = "无法写入临时文件夹，升级数据未能解压！";
// The device tool's own box text first, the reason after it.
const char* const kPackageCannotOpenFormat =
    "数据与下载工具不配对，请更换数据！\n\n无法打开升级数据文件：\n%s\n请把升级数据放在本程序所在的文件夹中！";

namespace {

constexpr const char* kExtractingText = "正在解压升级程序...\r\n";
constexpr const char* kExtractedText = "升级程序解压完成！\r\n";

// The job's pauses, the window serving its messages meanwhile: after each extraction log
// line, and after the voice and the database slots, whether selected or not.
constexpr uint32_t kLogLinePauseMs = 200;
constexpr uint32_t kBetweenContentsPauseMs = 2000;

// Every text one content kind uses, exactly as the device tool shows them. Some are odd on
// purpose and stay so: the voice format text ends in "\r\nn", some summaries end in "\r\n"
// and others do not; the log and the message boxes show them as they are.
struct KindTexts {
  const char* headerFile;
  const char* missing;
  const char* openFailedSummary;
  const char* shortLog;
  const char* shortSummary;
  const char* formatLog;
  const char* formatSummary;
  const char* startLog;
  const char* label;
  const char* endLog;
  const char* successSummary;
  const char* transferFailedSummary;  // a USB transfer the device did not take whole
  // A USB transfer the user stopped (Esc): the device holds the part sent until then.
  const char* cancelledLog;
  const char* cancelledSummary;
  // The USB device was lost during this content's transfer (it holds part of it at most),
  // or before this content was sent (nothing of it went).
  const char* lostLog;
  const char* lostSummary;
  const char* notSentSummary;
};

const KindTexts kKinds[3] = {
    {"edogvoice.hdr", "未找到语音文件\r\n", "语音文件更新失败!\r\n",
     "语音文件错误，请重新下载。\r\n", "语音文件更新失败!",
     "语音文件格式不符合要求，请重新下载。\r\nn", "语音文件更新失败!",
     "语音文件更新开始！\r\n", "语音文件", "语音文件更新完成！\r\n", "语音文件更新成功!\r\n",
     "语音文件更新失败!\r\n", "语音文件更新已取消，设备中只有部分语音数据，请重新更新。\r\n",
     "语音文件更新已取消，设备中只有部分数据!\r\n",
     "语音文件更新中断：USB连接已断开，设备中只有部分语音数据，请检查USB后重新更新。\r\n",
     "语音文件更新中断，设备中只有部分数据!\r\n", "语音文件未发送!\r\n"},
    {"edogmap.hdr", "未找到数据文件\r\n", "数据库文件更新失败!",
     "数据库文件错误，请重新下载。\r\n", "数据库文件更新失败!",
     "数据库文件格式错误，请重新下载。\r\n", "数据库文件更新失败!",
     "数据库文件更新开始！\r\n", "数据文件", "数据库文件更新完成！\r\n",
     "数据库文件更新成功!\r\n", "数据库文件更新失败!\r\n",
     "数据库文件更新已取消，设备中只有部分数据库数据，请重新更新。\r\n",
     "数据库文件更新已取消，设备中只有部分数据!\r\n",
     "数据库文件更新中断：USB连接已断开，设备中只有部分数据库数据，请检查USB后重新更新。\r\n",
     "数据库文件更新中断，设备中只有部分数据!\r\n", "数据库文件未发送!\r\n"},
    {"edogsoftware.hdr", "未找到数据文件\r\n", "软件更新失败!", "软件错误，请重新下载。\r\n",
     "软件更新失败!", "软件格式错误，请重新下载。\r\n", "软件更新失败!\r\n",
     "电子狗软件更新开始！\r\n", "软件文件", "电子狗软件更新完成！\r\n", "软件更新成功!\r\n",
     "软件更新失败!\r\n", "软件更新已取消，设备中只有部分软件数据，请重新更新。\r\n",
     "软件更新已取消，设备中只有部分数据!\r\n",
     "软件更新中断：USB连接已断开，设备中只有部分软件数据，请检查USB后重新更新。\r\n",
     "软件更新中断，设备中只有部分数据!\r\n", "软件未发送!\r\n"},
};

const KindTexts& Texts(ContentKind kind) { return kKinds[static_cast<int>(kind)]; }

}  // namespace

const char* UpdateJob::HeaderFileName(ContentKind kind) { return Texts(kind).headerFile; }

UpdateResult UpdateJob::Run(const UpdateSelection& selection, const UpdateSettings& settings) {
  UpdateResult result;
  if (running_) return result;
  if (!host_.Connected()) {
    host_.OnFailure(kNotConnectedText);
    return result;
  }
  if (!selection.voice && !selection.database && !selection.software) {
    host_.OnFailure(kNothingSelectedText);
    return result;
  }
  if (!settings.packageRefusal.empty()) {
    // The lookup's log line names the folder and the reason; the box is the one for a
    // package that cannot be opened.
    host_.OnFailure(Format(kPackageCannotOpenFormat, settings.packagePath.c_str()));
    return result;
  }
  result.started = true;
  running_ = true;
  // Busy for the whole job, so a press during one of its waits cannot start a second job
  // inside this one.
  host_.OnBusyChanged(true);

  PackageExtraction extraction;
  // The extraction directory and its files go on every way out of the job.
  struct Finish {
    UpdateJob& job;
    PackageExtraction& extraction;
    ~Finish() {
      extraction.CleanUp();
      job.running_ = false;
    }
  } finish{*this, extraction};

  host_.AppendLog(kExtractingText);
  host_.PumpWait(kLogLinePauseMs);

  PackageKey key{};
  SelectKey(settings.encryptionMethod, key);
  const bool made = extraction.MakeDirectory();
  if (!extraction.Note().empty()) host_.AppendLog(extraction.Note() + "\r\n");
  if (!made || !extraction.Extract(settings.packagePath, key)) {
    host_.OnBusyChanged(false);
    switch (extraction.FailureKind()) {
      case PackageExtraction::Failure::kUnsafeFolder:
        // The box's text cannot name the folder: the log says which one and what to do.
        host_.AppendLog(extraction.Error() + "\r\n");
        host_.OnFailure(kExtractWriteFailedText);
        break;
      case PackageExtraction::Failure::kNoSpace: host_.OnFailure(kExtractDiskFullText); break;
      case PackageExtraction::Failure::kCannotWrite:
        host_.OnFailure(kExtractWriteFailedText);
        break;
      case PackageExtraction::Failure::kCannotOpen:
        host_.OnFailure(Format(kPackageCannotOpenFormat, settings.packagePath.c_str()));
        break;
      default: host_.OnFailure(kPackageMismatchText); break;
    }
    return result;
  }
  result.extracted = true;
  host_.AppendLog(kExtractedText);
  host_.PumpWait(kLogLinePauseMs);

  const std::pair<bool, ContentKind> steps[3] = {{selection.voice, ContentKind::kVoice},
                                                 {selection.database, ContentKind::kDatabase},
                                                 {selection.software, ContentKind::kSoftware}};
  for (int i = 0; i < 3; ++i) {
    if (steps[i].first) {
      switch (HandleKind(steps[i].second, extraction, result)) {
        case KindEnd::kEndJob:
          result.aborted = true;
          return result;
        case KindEnd::kUsbLost:
          // After the disconnect box, what the device holds: the contents it took whole,
          // the one cut off, and those never sent.
          ++result.failed;
          for (int j = i + 1; j < 3; ++j) {
            if (!steps[j].first) continue;
            result.summary += Texts(steps[j].second).notSentSummary;
            ++result.failed;
          }
          result.aborted = result.usbLost = true;
          extraction.CleanUp();
          host_.OnSummary(result.summary);
          return result;
        case KindEnd::kCompleted: ++result.usbCompleted; break;
        case KindEnd::kFailed: ++result.failed; break;
        case KindEnd::kSerialStarted: ++result.serialDownloadsStarted; break;
      }
    }
    if (i < 2) host_.PumpWait(kBetweenContentsPauseMs);
  }

  extraction.CleanUp();
  host_.OnBusyChanged(false);
  host_.OnSummary(result.summary);
  return result;
}

UpdateJob::KindEnd UpdateJob::HandleKind(ContentKind kind, const PackageExtraction& extraction,
                                         UpdateResult& result) {
  const KindTexts& t = Texts(kind);
  const bool voice = kind == ContentKind::kVoice;
  if (voice) host_.OnBusyChanged(true);

  const std::string path = JoinPath(extraction.Directory(), t.headerFile);
  host_.SetPath(kind, path);
  // Every read below goes through the handle the extraction wrote with: a file put at this
  // name since (another user renaming the folder) is neither checked nor sent.
  const KeptFile* file = extraction.Extracted(path);
  if (!file) host_.AppendLog(t.missing);

  const HeaderRead header = file ? ReadHeaderFields(*file) : HeaderRead{};
  switch (header.status) {
    case HeaderStatus::kCannotOpen:
      result.summary += t.openFailedSummary;
      return KindEnd::kFailed;
    case HeaderStatus::kTooShort:
      host_.AppendLog(t.shortLog);
      result.summary += t.shortSummary;
      return KindEnd::kFailed;
    case HeaderStatus::kBadMagic:
      host_.AppendLog(t.formatLog);
      result.summary += t.formatSummary;
      return KindEnd::kFailed;
    case HeaderStatus::kOk:
      break;
  }
  for (const auto& line : HeaderProgressLines(header.fields)) host_.AddProgressLine(line);

  KindEnd end;
  if (header.fields.port != 0) {
    if (voice) host_.OnBusyChanged(true);
    if (!host_.Connected()) {
      host_.OnFailure(kUsbDisconnectText);
      host_.OnBusyChanged(false);
      // Before anything went to the device the job just ends, with no summary; once a
      // transfer of this job has run, the summary still says what the device holds.
      if (!result.usbTransferStarted) return KindEnd::kEndJob;
      result.summary += t.notSentSummary;
      return KindEnd::kUsbLost;
    }
    host_.AppendLog(t.startLog);
    result.usbTransferStarted = true;
    const TransferOutcome outcome = host_.RunUsbTransfer(*file, t.label);
    if (outcome == TransferOutcome::kDeviceLost) {
      // Said at once: no pause, and no other content is tried without the device.
      host_.AppendLog(t.lostLog);
      result.summary += t.lostSummary;
      host_.OnFailure(kUsbDisconnectText);
      host_.OnBusyChanged(false);
      return KindEnd::kUsbLost;
    }
    if (outcome == TransferOutcome::kCompleted) {
      host_.AppendLog(t.endLog);
      result.summary += t.successSummary;
      end = KindEnd::kCompleted;
    } else if (outcome == TransferOutcome::kCancelled) {
      host_.AppendLog(t.cancelledLog);
      result.summary += t.cancelledSummary;
      end = KindEnd::kFailed;
    } else {
      // The device did not store the whole payload: never report that as a success.
      result.summary += t.transferFailedSummary;
      end = KindEnd::kFailed;
    }
  } else {
    if (!host_.SerialOpen()) {
      host_.OnFailure(kComDisconnectText);
      host_.OnBusyChanged(false);
      return KindEnd::kEndJob;
    }
    host_.StartSerialDownload(kind == ContentKind::kSoftware ? file : nullptr);
    end = KindEnd::kSerialStarted;
  }
  host_.Reset();
  return end;
}

}  // namespace edog
