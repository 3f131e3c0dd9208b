// The disk helper spoken to directly, as any process of the session could, and
// the disk set-up that the helper and disk-operation tests share.
#pragma once

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "media/usb_preparation.h"
#include "platform/linux/helper_protocol.h"
#include "support/test_support.h"

namespace scour::test {

inline std::string Bin() {
    return ToUtf8(BinDir());
}
inline std::string Helper() {
    return Bin() + "/" + platform::helper::kHelperExecutable;
}

// A zero-filled image file of that size (sparse), replacing any before.
inline void MakeImage(const std::string& path, std::uint64_t bytes) {
    std::filesystem::remove(path);
    { std::ofstream(path, std::ios::binary); }
    std::filesystem::resize_file(path, bytes);
}
// A loop device over the image (with partition scanning when asked); empty when none.
inline std::string AttachLoop(const std::string& image, bool partitions = false) {
    std::string device =
        Sh("losetup " + std::string(partitions ? "-P " : "") + "-f --show " + Quote(image));
    return device.rfind("/dev/loop", 0) == 0 ? device : std::string();
}
// The wizard's preparation of the disk (or image) at path, answering Yes.
inline UsbOutcome PrepareDisk(platform::IDiskPreparer& disk, const std::string& path) {
    TestServices services(BinDir());
    RemovableDrive d;
    d.VolumePath = d.PhysicalDevice = FromUtf8(path);
    d.Status = DriveNoPartitionTable;
    WizardOptions options;
    HeadlessUsbPage page;
    YesReporter yes;
    return PrepareUsbDisk(page, &d, options, services, disk, yes);
}

class RawHelper {
  public:
    RawHelper(std::vector<std::string> argv, std::vector<std::string> env) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            return;
        }
        std::vector<char*> args, envp;
        for (auto* list : {&argv, &env}) {
            for (auto& s : *list) {
                (list == &argv ? args : envp).push_back(s.data());
            }
        }
        args.push_back(nullptr);
        envp.push_back(nullptr);
        if ((pid_ = fork()) == 0) {
            dup2(pair[1], STDIN_FILENO);
            dup2(pair[1], STDOUT_FILENO);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(pair[1]);
        socket_ = pair[0];
        reader_ = std::make_unique<platform::helper::MessageReader>(socket_);
        greeting_ = Read().value_or(platform::helper::Message{});
    }
    ~RawHelper() { End(); }
    RawHelper(const RawHelper&) = delete;
    RawHelper& operator=(const RawHelper&) = delete;

    const platform::helper::Message& Greeting() const { return greeting_; }
    bool Serving() const {
        return greeting_.size() == 3 && greeting_[0] == platform::helper::kHelperGreeting;
    }
    int Socket() const { return socket_; }

    // The answer: "ok" or "fail", the text, the results; nothing when the helper ended.
    std::optional<platform::helper::Message> Ask(const platform::helper::Message& request) {
        if (socket_ < 0 || !platform::helper::WriteMessage(socket_, request)) {
            return std::nullopt;
        }
        return Read();
    }
    // The refusal text of a request that must fail; "(accepted)" when it did not.
    std::string Refusal(const platform::helper::Message& request) {
        auto a = Ask(request);
        if (!a || a->size() < 2) {
            return "(no answer)";
        }
        return (*a)[0] == platform::helper::kFail ? (*a)[1] : "(accepted)";
    }
    // Closes its input and waits; its exit status, -1 when it did not exit.
    int End() {
        if (socket_ >= 0) {
            reader_.reset();
            close(socket_);
            socket_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return status_;
    }

  private:
    std::optional<platform::helper::Message> Read() {
        std::string error;
        return reader_->Read(error);
    }

    pid_t pid_ = -1;
    int socket_ = -1;
    int status_ = -1;
    std::unique_ptr<platform::helper::MessageReader> reader_;
    platform::helper::Message greeting_;
};

}  // namespace scour::test
