// What the benchmarks of the capture worker share with Qt: a document with
// the packet list model that its worker feeds, and the wait for the worker
// while Qt events are served.
#pragma once

#include <QCoreApplication>
#include <QThread>

#include "BenchAnalyser.h"
#include "CCaptureWorker.h"
#include "COrvaneDoc.h"
#include "CPacketListModel.h"

namespace orvane::bench {

// A document and the list model over its transaction level, fed by a
// worker that polls every millisecond.
struct ListedDocument {
    explicit ListedDocument(IDevice* device) : worker(doc, device, &model, Fast()) {
        model.SetRoot(&doc.TransactionRoot());
        model.SetRowDecoder(&doc.Parser());
        model.SetWorker(&worker);
    }
    ~ListedDocument() {
        worker.Shutdown();
        model.SetWorker(nullptr);
    }
    static app::CCaptureWorker::Options Fast() {
        app::CCaptureWorker::Options options;
        options.pollInterval = options.idleInterval = std::chrono::milliseconds(1);
        return options;
    }
    app::COrvaneDoc doc;
    app::CPacketListModel model;
    app::CCaptureWorker worker;
};

template <class Done>
void PumpUntil(Done done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(100);
    }
}

}  // namespace orvane::bench
