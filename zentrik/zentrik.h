#pragma once
// The packet-driver library: the calls the packet link makes, with the
// results it relies on. Linux and simulated implementations share this header.
#include "platform/platform.h"
#include "zentrik/records.h"

#include <cstdint>

// Enumeration (the library's ordinals 50 to 57). Handles are -1 on failure.
int32_t adapterListOpen();               // 50
void adapterListClose(int32_t list);     // 51
int32_t adapterListFirst(int32_t list);  // 52
int32_t adapterListNext(int32_t list);   // 53
void adapterItemRelease(int32_t item);   // 54
// With buffer null: stores the needed size (NUL included) and returns 122.
// With a buffer of that size: copies the name and returns 0.
uint32_t adapterItemName(int32_t item, char* buffer, uint32_t* size);  // 57

constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
// What W32N_GetLastError() reports after a request or argument the driver does not take.
constexpr uint32_t errorInvalidParameter = 87;

// -1 when the adapter cannot be opened; the reason goes to standard error.
int32_t W32N_OpenAdapterA(const char* name);
int W32N_CloseAdapter(int32_t handle);
// The request has completed when the call returns (the flag asks for that).
int W32N_MakeNdisRequest(int32_t handle, uint8_t* ndisRecord, OVERLAPPED* overlapped, int wait);
int W32N_SetBPFProgram(int32_t handle, const uint8_t* program, uint32_t length);
// Posts a read; it completes when a frame has been stored in the record.
int W32N_PacketRead(int32_t handle, uint8_t* readRecord, uint32_t* bytesTransferred, OVERLAPPED* overlapped, int flags);
int W32N_CancelPacketRead(int32_t handle, uint8_t* readRecord);
// Nonzero when the send was started; the event is set once the frame is gone.
int W32N_PacketSend(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* bytesSent, OVERLAPPED* overlapped);
uint32_t W32N_GetLastError();

// Completes the posted reads of the adapter for which frames have arrived,
// oldest posted record first. Never waits.
int GetOverlappedResult(int32_t handle, OVERLAPPED* overlapped, uint32_t* bytesTransferred, int wait);

// Nonzero once the helper process behind the adapters has gone: its socket
// closed or a request to it failed. It has been reaped by then, and every
// adapter went with it; the next open starts a new helper and clears this.
int linkHelperLost();
// A descriptor that becomes readable once a frame has arrived on an open
// adapter since the last zentrikClearWake(); -1 when the driver has none (the
// caller then looks again after a millisecond or at its next due time).
int zentrikWakeFd();
void zentrikClearWake();
