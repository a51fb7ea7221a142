#include "app/HubLogging.h"

namespace tavrix {

HubLogging::HubLogging(ViewHub& hub, LoggingFrontEnd frontEnd)
    : hub_(hub), fe_(std::move(frontEnd)) {
    LoggingContext ctx{hub.Link(),
                       hub.Mutex(),
                       hub.Features(),
                       hub.Operator(),
                       hub.Log(),
                       hub.Settings(),
                       hub.LoggingActive(),
                       [&hub] { return hub.LoggingInterval(); },
                       [&hub](double s) { hub.SetLoggingInterval(s); },
                       [this, &hub](LogReport r) {
                           switch (r) {
                               case LogReport::Sampled:
                                   hub.Messenger().Send(WM_LOG_SAMPLED, 0, 0);
                                   break;
                               case LogReport::CommError:
                                   hub.Share().LinkUp(false);
                                   hub.Messenger().Send(WM_LOG_COMM_ERROR, 0, 0);
                                   break;
                               case LogReport::LinkLost:
                                   hub.Share().LinkUp(false);
                                   hub.Messenger().Send(WM_LINK_LOST, 2, 0);
                                   break;
                               case LogReport::FileError:
                                   hub.Messenger().Send(WM_LOG_FILE_ERROR, 0, 0);
                                   break;
                               case LogReport::BadReply:
                                   hub.Messenger().Send(WM_LOG_BAD_REPLY, 0, 0);
                                   break;
                               case LogReport::LinkDown:
                               case LogReport::LinkRestored:
                                   // The lines in the file and the message log tell it;
                                   // the run goes on without a box. The metrics count it.
                                   hub.Share().LogLinkChanged(*engine_);
                                   break;
                           }
                       }};
    engine_ = std::make_unique<DataLoggingEngine>(std::move(ctx), fe_.progress, fe_.clock);
    // Each row feeds the metrics; the first of a run names its columns from the file's header.
    engine_->onRowWritten = [this](long rows, const std::string& row) {
        HubShare& share = hub_.Share();
        if (rows == 1) {
            LogSourceMask mask = 0;
            for (int i = 0; i < kLogSourceCount; ++i)
                if (engine_->SourceEnabled(i)) mask |= kLogSources[static_cast<size_t>(i)].maskBit;
            share.LogRunStarted(mask, HubShare::ReadLogHeader(engine_->FilePath()),
                                hub_.LoggingInterval());
        }
        share.LogRowWritten(row, *engine_);
    };
    fe_.progress.onStop = [this] { hub_.OnMessage(WM_LOG_STOP, 0, 0); };

    hub.RegisterMessage(WM_LOG_STOP, [this](intptr_t, intptr_t) {
        engine_->Stop();
        return intptr_t{0};
    });
    hub.RegisterMessage(WM_LOG_SAMPLED, [this](intptr_t, intptr_t) {
        engine_->OnSampled();
        return intptr_t{0};
    });
    hub.RegisterMessage(WM_LOG_COMM_ERROR, [this](intptr_t, intptr_t) {
        engine_->OnCommError();
        return intptr_t{0};
    });
    hub.RegisterMessage(WM_LOG_FILE_ERROR, [this](intptr_t, intptr_t) {
        engine_->OnFileError();
        return intptr_t{0};
    });
    hub.RegisterMessage(WM_LOG_BAD_REPLY, [this](intptr_t, intptr_t) {
        engine_->OnBadReply();
        return intptr_t{0};
    });
    // Taken at the next start: a run goes on as it began.
    hub.RegisterOperation(ID_LOG_KEEP_GOING, [&hub] {
        SettingsStore& st = hub.Settings();
        const bool on = st.GetString(settings::kLog, logging_texts::kKeepGoingKey, "0") == "1";
        if (!st.WriteString(settings::kLog, logging_texts::kKeepGoingKey, on ? "0" : "1"))
            hub.Operator().ShowMessage("Unable to Write to Initialization File", MessageIcon::Stop);
    });
    hub.RegisterOperation(ID_LOG_START, [this] { engine_->Start(hub_.Operator(), fe_.timer); });
    hub.RegisterOperation(ID_DATALOG_UPLOAD, [this] {
        DataLogUploadContext ctx{hub_.Link(), hub_.Mutex(), hub_.Operator(), hub_.Log(),
                                 uploadSleep};
        UploadInternalDataLog(ctx);
    });
    for (int i = 0; i < 12; ++i) {
        hub.RegisterMessage(WM_MONITOR_READING + i, [this, i](intptr_t w, intptr_t) {
            const auto* r = reinterpret_cast<const MonitorReading*>(w);
            if (r && fe_.monitorReading) fe_.monitorReading(i, *r);
            return intptr_t{0};
        });
    }

    poller_ = std::make_unique<MonitorPoller>(
        hub.Link(), hub.Mutex(), hub.MonitorFlags(), [&hub] { return hub.LoggingInterval(); },
        [this](int i, const MonitorReading& r) {
            hub_.Share().MonitorReadingTaken(i, r);
            pending_[static_cast<size_t>(i)] = r;
            hub_.Messenger().Send(WM_MONITOR_READING + i,
                                  reinterpret_cast<intptr_t>(&pending_[static_cast<size_t>(i)]), 0);
        },
        [this] {
            hub_.Share().LinkUp(false);
            hub_.Messenger().Send(WM_LINK_LOST, 2, 0);
        });

    hub.SetSamplingBody(
        [this](ViewHub& h) { engine_->RunSamplingThread(h.QuitEvent(), h.SampleEvent()); });
    hub.SetMonitorBody([this](ViewHub& h) { poller_->Run(h.QuitEvent()); });
}

}  // namespace tavrix
