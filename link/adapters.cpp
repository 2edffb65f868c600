#include "link/link.h"
#include "zentrik/zentrik.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

constinit AdapterEntry adapters[maxAdapters]{};
int adapterCount = 0;
int32_t currentAdapterHandle = -1;
constinit OVERLAPPED ndisOverlapped{};

namespace {
// NDIS records and their information buffers live side by side in static
// storage, so the buffer's distance from the record always fits the record.
alignas(8) uint8_t ndisRecord[ndisrec::size];
alignas(8) uint8_t macBuffer[6];
alignas(8) uint8_t filterBuffer[4];

int ndisRequest(uint32_t type, uint32_t oid, uint8_t* buffer, uint32_t length)
{
    std::memset(ndisRecord, 0, sizeof ndisRecord);
    putU32(ndisRecord, ndisrec::requestType, type);
    putU32(ndisRecord, ndisrec::oid, oid);
    if (!setNdisBuffer(ndisRecord, buffer))
        return 0;
    putU32(ndisRecord, ndisrec::bufferLength, length);
    putU32(ndisRecord, ndisrec::bytesDone, 0);
    putU32(ndisRecord, ndisrec::bytesNeeded, type == ndisrec::query ? length : 0);
    return W32N_MakeNdisRequest(currentAdapterHandle, ndisRecord, &ndisOverlapped, 1);
}

// Stores one opened adapter in the next free entry; a 17th is closed again.
void keepAdapter(int32_t handle, const char* name, int& opened)
{
    if (opened >= maxAdapters) {
        W32N_CloseAdapter(handle);
        return;
    }
    AdapterEntry& e = adapters[opened++];
    e.handle = handle;
    std::memset(e.name, 0, sizeof e.name);
    std::strncpy(e.name, name, sizeof e.name - 1);
}
}  // namespace

int queryOwnMac(uint8_t* buffer, uint32_t* length)
{
    // The buffer is shared by all adapters: a failed query must not hand on
    // the address that the previous adapter's query left in it.
    std::memset(macBuffer, 0, sizeof macBuffer);
    int result = ndisRequest(ndisrec::query, ndisrec::oidCurrentAddress, macBuffer, *length < 6 ? *length : 6);
    if (result == 0)
        std::memset(macBuffer, 0, sizeof macBuffer);
    std::memcpy(buffer, macBuffer, *length < 6 ? *length : 6);
    return result;
}

int setPacketFilter(uint32_t filter)
{
    std::memcpy(filterBuffer, &filter, 4);
    return ndisRequest(ndisrec::set, ndisrec::oidPacketFilter, filterBuffer, 4);
}

int installFrameFilter()
{
    return W32N_SetBPFProgram(currentAdapterHandle, frameFilterProgram, sizeof frameFilterProgram);
}

int openAdapters()
{
    int32_t list = adapterListOpen();
    if (list == -1)
        return 0;

    int opened = 0;
    for (int32_t item = adapterListFirst(list); item != -1; item = adapterListNext(list)) {
        uint32_t size = 0;
        uint32_t status = adapterItemName(item, nullptr, &size);
        if ((status == 0 || status == ERROR_INSUFFICIENT_BUFFER) && size > 0) {
            const uint32_t allocated = size;
            std::unique_ptr<char[]> name(new (std::nothrow) char[allocated]);
            // The second call may report another size; only the allocated one bounds the name.
            if (name && adapterItemName(item, name.get(), &size) == 0 && size > 0) {
                name[allocated - 1] = '\0';
                // A name that does not fit the entry could not be opened again by it.
                if (std::strlen(name.get()) < adapterNameSize) {
                    currentAdapterHandle = W32N_OpenAdapterA(name.get());
                    if (currentAdapterHandle != -1)
                        keepAdapter(currentAdapterHandle, name.get(), opened);
                }
            }
        }
        adapterItemRelease(item);
    }
    adapterListClose(list);
    adapterCount = opened;

    ndisOverlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
    if (ndisOverlapped.hEvent == 0) {
        for (int i = 0; i < adapterCount; ++i)
            W32N_CloseAdapter(adapters[i].handle);
        adapterCount = 0;
        W32N_GetLastError();
        return 0;
    }
    ResetEvent(ndisOverlapped.hEvent);

    // An adapter whose address cannot be read would send under a wrong or empty
    // source address and could not tell its device's replies from others': it is
    // closed again, and the adapters after it move up.
    int usable = 0;
    for (int i = 0; i < adapterCount; ++i) {
        currentAdapterHandle = adapters[i].handle;
        uint8_t mac[6] = {};
        uint32_t length = 6;
        if (queryOwnMac(mac, &length) == 0) {
            std::fprintf(stderr, "%s: cannot read the address of adapter %s; it is left out\n",
                         program_invocation_short_name, adapters[i].name);
            W32N_CloseAdapter(adapters[i].handle);
            std::memset(adapters[i].ownMac, 0, sizeof adapters[i].ownMac);
            continue;
        }
        int a = usable++;
        if (a != i) {
            adapters[a].handle = adapters[i].handle;
            std::memcpy(adapters[a].name, adapters[i].name, sizeof adapters[a].name);
            std::memset(adapters[i].ownMac, 0, sizeof adapters[i].ownMac);
        }
        std::memcpy(adapters[a].ownMac, mac, 6);
        createReceiveEvents(a);
        installFrameFilter();
        setPacketFilter(ndisrec::filterPromiscuous);
        postReceives(a);
    }
    adapterCount = usable;
    createSendEvents();
    return 1;
}

int linkLost() { return linkHelperLost(); }

int closeAdapters()
{
    for (int a = 0; a < adapterCount; ++a) {
        currentAdapterHandle = adapters[a].handle;
        setPacketFilter(0);
        W32N_CloseAdapter(adapters[a].handle);
        cancelReceives(a);
        for (auto& slot : receiveSlots[a]) {
            CloseHandle(slot.overlapped.hEvent);
            slot.overlapped.hEvent = 0;
        }
    }
    for (auto& slot : sendSlots) {
        CloseHandle(slot.overlapped.hEvent);
        slot.overlapped.hEvent = 0;
    }
    CloseHandle(ndisOverlapped.hEvent);
    ndisOverlapped.hEvent = 0;
    adapterCount = 0;
    return 1;
}
