// What the simulator does with each received command.
#include <cstdio>
#include <stdexcept>

#include "scanner_sim/container.h"
#include "scanner_sim/scanner_sim_impl.h"

namespace scanner_sim {
namespace {

const std::string kStartPacket("\x02\x00\x00\x03\x00\x00\x00\x02", 8);

std::string_view withoutCr(std::string_view text)
{
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

void ScannerSim::Impl::answerSync()
{
    if (lastSent.load() != Sent::Container)  // lets the client synchronise first
        write(statusContainer(), Sent::Container);
    write(syncContainer(), Sent::Container);
}

void ScannerSim::Impl::answerXml()
{
    std::string frame;
    try {
        std::lock_guard lock(modelMutex);
        frame = xmlContainer(model.DescriptorXml());
    } catch (const std::length_error& e) {
        std::fprintf(stderr, "%s: no answer sent\n", e.what());
        return;
    }
    if (options.xmlReplyDelayMs > 0)
        delayedAnswers.emplace_back(Clock::now() + std::chrono::milliseconds(options.xmlReplyDelayMs),
                                    std::move(frame));
    else
        write(frame, Sent::Container);
}

void ScannerSim::Impl::handleCommand(const Command& command)
{
    if (command.binary) {
        if (command.bytes == kStartPacket && options.linSend == Options::LinSend::AfterStartPacket)
            linDue = Clock::now() + std::chrono::milliseconds(options.linDelayMs);
        return;
    }
    const std::string_view text = withoutCr(command.bytes);
    if (text == "SetRequestSyncContainer") {
        answerSync();
    } else if (text == "get_xmldescriptor" || (text.size() == 13 && text.starts_with("GetSettings="))) {
        answerXml();
    } else if (text == "SetResetSettings") {
        {
            std::lock_guard lock(modelMutex);
            model.Reset();
        }
        updateStream(false);
    } else if (text == "SetTriggerSoftware") {
        const std::shared_ptr<const ProfileSettings> s = currentSettings();
        if (s->status.cameraRunning && softwareLineStart(s->status))
            emitProfiles(1);
    } else if (text.starts_with("Set")) {
        {
            std::lock_guard lock(modelMutex);
            model.Apply(text);
        }
        if (text == "SetResetEncoder") {
            std::lock_guard lock(produceMutex);
            producer.ResetEncoders();
        }
        updateStream(text == "SetAcquisitionStart");
    }
}

void ScannerSim::Impl::record(Token token)
{
    Command command{connection, token.binary, std::move(token.bytes)};
    if (options.onCommand)
        options.onCommand(command);
    handleCommand(command);
    if (!options.closeOnCommand.empty() && command.bytes == options.closeOnCommand)
        closeDue = Clock::now();  // after the bytes already read are taken in
    if (!options.silentOnCommand.empty() && command.bytes == options.silentOnCommand)
        goSilent();
    if (commandLog)
        commandLog->Write(command);
    // Logged last, so a caller that waited for the command sees its effects.
    std::lock_guard lock(logMutex);
    log.push_back(std::move(command));
    logChanged.notify_all();
}

}  // namespace scanner_sim
