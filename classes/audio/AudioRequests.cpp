#include "AudioRequests.h"

namespace orvane::audio {

namespace {

struct Names {
    uint8_t request;
    const char* row;
    const char* setup;
};

constexpr Names kNames[] = {
    {SetCur, "SetCur", "SET_CUR"}, {SetMin, "SetMin", "SET_MIN"}, {SetMax, "SetMax", "SET_MAX"},
    {SetRes, "SetRes", "SET_RES"}, {SetMem, "SetMem", "SET_MEM"}, {GetCur, "GetCur", "GET_CUR"},
    {GetMin, "GetMin", "GET_MIN"}, {GetMax, "GetMax", "GET_MAX"}, {GetRes, "GetRes", "GET_RES"},
    {GetMem, "GetMem", "GET_MEM"}, {GetStat, "GetStat", "GET_STAT"},
};

const Names* Find(uint8_t request)
{
    for (const Names& n : kNames)
        if (n.request == request) return &n;
    return nullptr;
}

}  // namespace

const char* RowName(uint8_t request)
{
    const Names* n = Find(request);
    return n ? n->row : "";
}

const char* RequestName(uint8_t request)
{
    const Names* n = Find(request);
    return n ? n->setup : "";
}

}  // namespace orvane::audio
