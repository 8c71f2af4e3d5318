// The profile stream: the settings profiles are made with, making and writing
// them, and following the model's acquisition state.
#include <algorithm>

#include "scanner_sim/container.h"
#include "scanner_sim/scanner_sim_impl.h"
#include "scanner_sim/status_blocks.h"

namespace scanner_sim {

std::string ScannerSim::Impl::statusContainer()
{
    ProfileCounters counters;
    {
        std::lock_guard lock(produceMutex);
        counters = producer.LastCounters();
    }
    StatusFields fields;
    {
        std::lock_guard lock(modelMutex);
        fields = model.Status();
    }
    fields.pictureCounter = counters.pictureCounter;
    fields.timeStamp = counters.timeStamp;
    fields.encoderHtl = counters.encoderHtl;
    fields.encoderTtl = counters.encoderTtl;
    return statusOnlyContainer(fields);
}

std::shared_ptr<const ProfileSettings> ScannerSim::Impl::currentSettings() const
{
    ProfileSettings s;
    {
        std::lock_guard lock(modelMutex);
        s.status = model.Status();
        s.linearized = model.LinearizationMode();
        s.geometry = model.Identity().geometry;
    }
    s.status.encoderHtl = s.status.encoderTtl = 0;  // from the counters
    s.scale = options.linearizedScale;
    s.swappedStrengthWidth = options.swappedStrengthWidth;
    s.shortGeneralBlock = options.shortGeneralBlock;
    s.legacyType = options.legacyFrameType;
    std::lock_guard lock(settingsMutex);
    if (!settingsCache || !(*settingsCache == s))
        settingsCache = std::make_shared<const ProfileSettings>(std::move(s));
    return settingsCache;
}

bool ScannerSim::Impl::streamAllowed() const
{
    return writerConnection.load() >= 0 && (linSentHere.load() || options.linSend == Options::LinSend::Never);
}

void ScannerSim::Impl::emitProfiles(int count)
{
    std::lock_guard lock(produceMutex);
    if (count <= 0 || !streamAllowed())
        return;
    const int connectionId = writerConnection.load();
    const ProfileBatch batch = producer.Build(currentSettings(), count, connectionId, connectionStart.load());
    bool faulty = false;
    for (const SentProfile& p : batch.profiles)
        faulty = faulty || p.fault != ProfileFault::None || p.garbageBefore;
    const WriteShape shape{batch.cuts.empty() ? nullptr : &batch.cuts, batch.closeAfter, connectionId};
    const Sent kind = options.legacyFrameType != 0 ? Sent::Legacy : (faulty ? Sent::Raw : Sent::Container);
    if (!write(batch.bytes, kind, shape))
        return;
    connectionStart = false;
    producer.Commit(batch);
    if (profileLog)
        for (const SentProfile& p : batch.profiles)
            profileLog->Write(p);
    std::lock_guard logLock(logMutex);
    profilesSent = producer.SentCount();
    logChanged.notify_all();
}

bool ScannerSim::Impl::softwareLineStart(const StatusFields& f)
{
    return f.triggerSource == 3 || (f.triggerSource == -1 && f.triggerAmountProfilesY == 3);
}

void ScannerSim::Impl::updateStream(bool acquisitionStart)
{
    const std::shared_ptr<const ProfileSettings> s = currentSettings();
    const StatusFields& f = s->status;
    if (!f.cameraRunning || softwareLineStart(f)) {
        freeRun->Halt();
        return;
    }
    const bool burst = options.frameStartBurst && f.triggerSource == -1;
    const std::chrono::microseconds period(std::max<uint32_t>(f.lineTime, 1));
    if (acquisitionStart || (!burst && !freeRun->Active()))
        freeRun->Start(period, burst ? std::optional<uint64_t>(std::max<uint16_t>(f.amountProfilesY, 1))
                                     : std::nullopt);
    else
        freeRun->Retime(period);
}

}  // namespace scanner_sim
