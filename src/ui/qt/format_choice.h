// The format step of the USB disk page: a small dialog of the frame's own
// asks for the file system before the volume is formatted, where Windows
// shows its format dialog. Everything else goes to the wrapped operations.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/disk_ops.h"

class QDialog;
class QWidget;

namespace scour::qt {

// The dialog: a warning, the file system ("fileSystem": FAT32 or FAT), Start
// and Cancel.
std::unique_ptr<QDialog> MakeFormatDialog(QWidget* owner);
// "FAT32" or "FAT", or nothing when the user cancelled.
std::optional<std::wstring> AskFormatFileSystem(QWidget* owner);

class FormatChoicePreparer final : public platform::IDiskPreparer {
  public:
    using Ask = std::function<std::optional<std::wstring>()>;
    FormatChoicePreparer(std::unique_ptr<platform::IDiskPreparer> inner, Ask ask);

    bool Format(const platform::DiskTarget& target) override;
    void SetFormatFileSystem(platform::FormatFileSystem fs) override {
        inner_->SetFormatFileSystem(fs);
    }

    std::optional<platform::DiskIdentity> ReadIdentity(
        const platform::DiskTarget& target) override {
        return inner_->ReadIdentity(target);
    }
    std::unique_ptr<platform::IVolumeLock> LockVolume(const platform::DiskTarget& target) override {
        return inner_->LockVolume(target);
    }
    std::unique_ptr<platform::IRawDisk> OpenDisk(const platform::DiskTarget& target) override {
        return inner_->OpenDisk(target);
    }
    bool ReleaseVolume(const platform::DiskTarget& target) override {
        return inner_->ReleaseVolume(target);
    }
    bool CopyFolderContents(const platform::DiskTarget& target,
                            const std::wstring& folder) override {
        return inner_->CopyFolderContents(target, folder);
    }
    bool CopyFile(const platform::DiskTarget& target, const std::wstring& source,
                  const std::wstring& name) override {
        return inner_->CopyFile(target, source, name);
    }
    std::unique_ptr<platform::IInstallerRun> StartInstaller(
        const platform::DiskTarget& target, const std::wstring& programFolder) override {
        return inner_->StartInstaller(target, programFolder);
    }
    bool RootFileExists(const platform::DiskTarget& target, std::wstring_view name) override {
        return inner_->RootFileExists(target, name);
    }
    std::optional<platform::VolumeFacts> DescribeVolume(
        const platform::DiskTarget& target) override {
        return inner_->DescribeVolume(target);
    }
    bool SupportsImageFiles() const override { return inner_->SupportsImageFiles(); }
    std::wstring FailureDetail() const override { return inner_->FailureDetail(); }

  private:
    std::unique_ptr<platform::IDiskPreparer> inner_;
    Ask ask_;
};

}  // namespace scour::qt
