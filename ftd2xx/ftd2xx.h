// The calls of the FTDI D2XX driver library (ftd2xx.dll) that tavrin uses, with their
// arguments, flags and statuses.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

// Statuses.
#define FT_OK 0
#define FT_INVALID_HANDLE 1
#define FT_DEVICE_NOT_FOUND 2
#define FT_DEVICE_NOT_OPENED 3
#define FT_IO_ERROR 4
#define FT_INSUFFICIENT_RESOURCES 5
#define FT_INVALID_PARAMETER 6

// FT_ListDevices flags.
#define FT_LIST_NUMBER_ONLY 0x80000000
#define FT_LIST_BY_INDEX 0x40000000

// FT_OpenEx and FT_ListDevices: what the first argument is.
#define FT_OPEN_BY_SERIAL_NUMBER 1

// FT_SetEventNotification mask.
#define FT_EVENT_RXCHAR 1

// FT_SetDataCharacteristics values.
#define FT_BITS_7 7
#define FT_BITS_8 8
#define FT_STOP_BITS_1 0
#define FT_STOP_BITS_2 2
#define FT_PARITY_NONE 0
#define FT_PARITY_ODD 1
#define FT_PARITY_EVEN 2
#define FT_PARITY_MARK 3
#define FT_PARITY_SPACE 4

FT_STATUS WINAPI FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FT_STATUS WINAPI FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle);
FT_STATUS WINAPI FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, PVOID Param);
FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity);
FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate);
FT_STATUS WINAPI FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord);
FT_STATUS WINAPI FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned);
FT_STATUS WINAPI FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten);
FT_STATUS WINAPI FT_Close(FT_HANDLE ftHandle);

#ifdef __cplusplus
}
#endif
