#include "zentrik/sim.h"

#include "platform/simclock.h"
#include "zentrik/zentrik.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {
struct PostedRead {
    uint8_t* record;
    OVERLAPPED* overlapped;
    uint32_t* bytes;
};

struct PendingFrame {
    uint32_t atMs;
    std::vector<uint8_t> bytes;
};

struct SimAdapter {
    std::string name;
    uint8_t mac[6]{};
    bool failOpen = false;
    bool failMacQuery = false;
    zsim::NameMode nameMode = zsim::NameMode::normal;
    zsim::SendMode sendMode = zsim::SendMode::completes;
    int32_t handle = -1;
    bool promiscuous = false;
    std::vector<uint8_t> program;
    std::deque<PostedRead> posted;
    std::deque<PendingFrame> pending;
};

std::vector<SimAdapter> adapters;
std::vector<zsim::SentFrame> sent;
std::vector<zsim::SentFrame> trace;
zsim::SendHook hook;
bool enumerationFails = false;
bool helperLost = false;
int32_t nextHandle = 1000;
int32_t listCursor = -1;
uint32_t lastError = 0;

SimAdapter* byHandle(int32_t handle)
{
    for (auto& a : adapters)
        if (a.handle != -1 && a.handle == handle)
            return &a;
    return nullptr;
}

// Classic BPF, just the instructions a frame filter needs.
bool filterAccepts(const std::vector<uint8_t>& program, const std::vector<uint8_t>& frame)
{
    if (program.empty())
        return true;
    size_t count = program.size() / 8;
    uint32_t acc = 0;
    for (size_t pc = 0; pc < count;) {
        const uint8_t* ins = program.data() + pc * 8;
        uint16_t code = static_cast<uint16_t>(ins[0] | (ins[1] << 8));
        uint8_t jt = ins[2], jf = ins[3];
        uint32_t k;
        std::memcpy(&k, ins + 4, 4);
        switch (code) {
        case 0x28:  // ldh [k]
            if (k + 2 > frame.size())
                return false;
            acc = static_cast<uint32_t>(frame[k] << 8 | frame[k + 1]);
            ++pc;
            break;
        case 0x15:  // jeq #k
            pc += 1 + (acc == k ? jt : jf);
            break;
        case 0x06:  // ret #k
            return k != 0;
        default: return false;
        }
    }
    return false;
}

void completeDue(SimAdapter& a)
{
    uint32_t now = simclock::now();
    while (!a.posted.empty() && !a.pending.empty() && static_cast<int32_t>(now - a.pending.front().atMs) >= 0) {
        PostedRead read = a.posted.front();
        a.posted.pop_front();
        PendingFrame frame = std::move(a.pending.front());
        a.pending.pop_front();
        size_t room = std::min<size_t>(getU32(read.record, readrec::bufferSize), readrec::frameRoom);
        size_t n = std::min(room, frame.bytes.size());
        if (n > 0)
            std::memcpy(read.record + readrec::frame, frame.bytes.data(), n);
        putU32(read.record, readrec::frameLength, static_cast<uint32_t>(n));
        putU32(read.record, readrec::status, readrec::statusDone);
        if (read.bytes)
            *read.bytes = static_cast<uint32_t>(n);
        SetEvent(read.overlapped->hEvent);
    }
}
}  // namespace

int32_t adapterListOpen()
{
    if (enumerationFails)
        return -1;
    listCursor = -1;
    return 1;
}

void adapterListClose(int32_t) { listCursor = -1; }

int32_t adapterListFirst(int32_t)
{
    listCursor = adapters.empty() ? -1 : 0;
    return listCursor;
}

int32_t adapterListNext(int32_t)
{
    if (listCursor < 0 || listCursor + 1 >= static_cast<int32_t>(adapters.size()))
        return listCursor = -1;
    return ++listCursor;
}

void adapterItemRelease(int32_t) {}

uint32_t adapterItemName(int32_t item, char* buffer, uint32_t* size)
{
    if (item < 0 || item >= static_cast<int32_t>(adapters.size()))
        return errorInvalidParameter;
    const SimAdapter& a = adapters[static_cast<size_t>(item)];
    uint32_t needed = static_cast<uint32_t>(a.name.size() + 1);
    if (!buffer) {
        if (a.nameMode == zsim::NameMode::fails)
            return 31;
        *size = needed;
        return a.nameMode == zsim::NameMode::sizeQueryZero ? 0 : ERROR_INSUFFICIENT_BUFFER;
    }
    if (a.nameMode == zsim::NameMode::secondSizeZero) {
        *size = 0;
        return 0;
    }
    if (*size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, a.name.c_str(), needed);
    *size = a.nameMode == zsim::NameMode::secondSizeLarger ? needed + 64 : needed;
    return 0;
}

int32_t W32N_OpenAdapterA(const char* name)
{
    helperLost = false;  // a new helper
    for (auto& a : adapters) {
        if (a.name == name) {
            if (a.failOpen || a.handle != -1) {
                lastError = 5;
                return -1;
            }
            a.handle = nextHandle++;
            a.promiscuous = false;
            a.program.clear();
            a.posted.clear();
            a.pending.clear();
            return a.handle;
        }
    }
    lastError = 2;
    return -1;
}

int W32N_CloseAdapter(int32_t handle)
{
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    a->handle = -1;
    a->posted.clear();
    a->pending.clear();
    a->promiscuous = false;
    return 1;
}

int W32N_MakeNdisRequest(int32_t handle, uint8_t* record, OVERLAPPED*, int)
{
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    NdisRequest request = decodeNdisRequest(record);
    if (request.kind == NdisRequest::queryCurrentAddress) {
        if (a->failMacQuery) {
            lastError = 31;
            return 0;
        }
        std::memcpy(request.buffer, a->mac, 6);
        putU32(record, ndisrec::bytesDone, 6);
        return 1;
    }
    if (request.kind == NdisRequest::setPacketFilter) {
        a->promiscuous = request.promiscuous;
        putU32(record, ndisrec::bytesDone, 4);
        return 1;
    }
    lastError = errorInvalidParameter;
    return 0;
}

int W32N_SetBPFProgram(int32_t handle, const uint8_t* program, uint32_t length)
{
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    a->program.assign(program, program + length);
    return 1;
}

int W32N_PacketRead(int32_t handle, uint8_t* record, uint32_t* bytes, OVERLAPPED* overlapped, int)
{
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    putU32(record, readrec::status, readrec::statusPending);
    a->posted.push_back({record, overlapped, bytes});
    return 1;
}

int W32N_CancelPacketRead(int32_t handle, uint8_t* record)
{
    // The adapter may be closed already; its reads went with it.
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 1;
    auto it = std::find_if(a->posted.begin(), a->posted.end(), [&](const PostedRead& r) { return r.record == record; });
    if (it != a->posted.end())
        a->posted.erase(it);
    return 1;
}

int W32N_PacketSend(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* bytesSent, OVERLAPPED* overlapped)
{
    SimAdapter* a = byHandle(handle);
    if (!a || a->sendMode == zsim::SendMode::fails || helperLost)
        return 0;
    // A new operation on an overlapped record starts with its event clear.
    ResetEvent(overlapped->hEvent);
    int index = static_cast<int>(a - adapters.data());
    sent.push_back({index, std::vector<uint8_t>(data, data + length), simclock::now(), simclock::nowMicros()});
    trace.push_back(sent.back());
    if (a->sendMode == zsim::SendMode::completes) {
        if (bytesSent)
            *bytesSent = length;
        SetEvent(overlapped->hEvent);
    }
    if (hook)
        hook(index, data, length);
    return 1;
}

uint32_t W32N_GetLastError() { return lastError; }

int linkHelperLost() { return helperLost ? 1 : 0; }

int GetOverlappedResult(int32_t handle, OVERLAPPED*, uint32_t*, int)
{
    SimAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    completeDue(*a);
    return 1;
}

namespace zsim {
void reset()
{
    adapters.clear();
    sent.clear();
    trace.clear();
    hook = nullptr;
    enumerationFails = false;
    helperLost = false;
    listCursor = -1;
}

int addAdapter(const std::string& name, const uint8_t mac[6])
{
    SimAdapter a;
    a.name = name;
    std::memcpy(a.mac, mac, 6);
    adapters.push_back(std::move(a));
    return static_cast<int>(adapters.size()) - 1;
}

int adapterCount() { return static_cast<int>(adapters.size()); }
void setEnumerationFails(bool f) { enumerationFails = f; }
void setOpenFails(int i, bool f) { adapters.at(static_cast<size_t>(i)).failOpen = f; }
void setNameMode(int i, NameMode m) { adapters.at(static_cast<size_t>(i)).nameMode = m; }
void setMacQueryFails(int i, bool f) { adapters.at(static_cast<size_t>(i)).failMacQuery = f; }
void setSendMode(int i, SendMode m) { adapters.at(static_cast<size_t>(i)).sendMode = m; }
void setSendHook(SendHook h) { hook = std::move(h); }
void loseHelper() { helperLost = true; }

void deliver(int i, const uint8_t* frame, size_t length, uint32_t delayMs)
{
    SimAdapter& a = adapters.at(static_cast<size_t>(i));
    if (a.handle == -1)
        return;
    std::vector<uint8_t> bytes(frame, frame + length);
    if (!filterAccepts(a.program, bytes))
        return;
    uint32_t at = simclock::now() + delayMs;
    // Keep arrival order by time; equal times keep delivery order. Searched
    // from the back: frames mostly come in time order, and a flood of
    // thousands must not cost a pass over the queue each.
    auto later = std::find_if(a.pending.rbegin(), a.pending.rend(),
                              [&](const PendingFrame& p) { return static_cast<int32_t>(p.atMs - at) <= 0; });
    a.pending.insert(later.base(), PendingFrame{at, std::move(bytes)});
}

void deliver(int i, const std::vector<uint8_t>& frame, uint32_t delayMs)
{
    deliver(i, frame.data(), frame.size(), delayMs);
}

const std::vector<SentFrame>& sentFrames() { return sent; }
void clearSent() { sent.clear(); }
const std::vector<SentFrame>& wholeTrace() { return trace; }
bool isOpen(int i) { return adapters.at(static_cast<size_t>(i)).handle != -1; }
int openHandleCount()
{
    return static_cast<int>(
        std::count_if(adapters.begin(), adapters.end(), [](const SimAdapter& a) { return a.handle != -1; }));
}
bool promiscuous(int i) { return adapters.at(static_cast<size_t>(i)).promiscuous; }
std::vector<uint8_t> filterProgram(int i) { return adapters.at(static_cast<size_t>(i)).program; }
int postedReads(int i) { return static_cast<int>(adapters.at(static_cast<size_t>(i)).posted.size()); }
int pendingFrames(int i) { return static_cast<int>(adapters.at(static_cast<size_t>(i)).pending.size()); }
int handleOf(int i) { return adapters.at(static_cast<size_t>(i)).handle; }
int adapterOfHandle(int32_t handle)
{
    SimAdapter* a = byHandle(handle);
    return a ? static_cast<int>(a - adapters.data()) : -1;
}
}  // namespace zsim

int zentrikWakeFd() { return -1; }
void zentrikClearWake() {}
