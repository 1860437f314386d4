// Walker of the test plug-in's two-field header: a tag byte and a
// little-endian length; fields the given length does not cover are left out.
#pragma once

#include <cstdio>

#include "IEnumerable.h"

namespace orvane {

class test_header_imp : public IEnumerable {
public:
    void SetData(const uint8_t* data, uint32_t length) override
    {
        data_ = data;
        length_ = data ? length : 0;
    }
    void GetName(std::string& name) override { name = "Test header"; }
    void Enumerate(std::vector<FieldRecord>& fields) override
    {
        char text[16];
        if (length_ >= 1) {
            std::snprintf(text, sizeof text, "0x%02X", data_[0]);
            fields.push_back({"bTag", text, "tag byte", 8});
        }
        if (length_ >= 3) {
            std::snprintf(text, sizeof text, "%u", unsigned(data_[1] | data_[2] << 8));
            fields.push_back({"wLength", text, "length", 16});
        }
    }

private:
    const uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
};

}  // namespace orvane
