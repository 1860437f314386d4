// Sequential access to a data source's records: spans of records already in
// memory are read in place; anything else goes through GetRecord.
#pragma once

#include <cstdint>

#include "IDataSource.h"

namespace orvane {

class RecordReader {
public:
    void SetSource(IDataSource* source) {
        source_ = source;
        span_ = nullptr;
        first_ = end_ = 0;
    }

    // The record at `index` when it is in memory; null otherwise.
    const PacketRecord* Peek(uint32_t index) {
        if (index - first_ < end_ - first_) return span_ + (index - first_);
        return Refresh(index);
    }

private:
    [[gnu::noinline]] const PacketRecord* Refresh(uint32_t index) {
        uint32_t count = 0;
        const PacketRecord* p = source_ ? source_->PeekRecords(index, &count) : nullptr;
        if (!p || !count) return nullptr;
        span_ = p;
        first_ = index;
        end_ = index + count;
        return p;
    }

    IDataSource* source_ = nullptr;
    const PacketRecord* span_ = nullptr;
    uint32_t first_ = 0;
    uint32_t end_ = 0;
};

}  // namespace orvane
