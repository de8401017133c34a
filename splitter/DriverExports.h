// The entry points the device manager calls, with the device prefix "COM".
#pragma once

#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HANDLE hinstDLL, DWORD dwReason, LPVOID lpvReserved);
DWORD_PTR COM_Init(DWORD_PTR dwContext);
BOOL COM_Deinit(DWORD_PTR hDeviceContext);
DWORD_PTR COM_Open(DWORD_PTR hDeviceContext, DWORD AccessCode, DWORD ShareMode);
BOOL COM_Close(DWORD_PTR hOpenContext);
DWORD COM_Read(DWORD_PTR hOpenContext, LPVOID pBuffer, DWORD Count);
DWORD COM_Write(DWORD_PTR hOpenContext, LPCVOID pBuffer, DWORD Count);
DWORD COM_Seek(DWORD_PTR hOpenContext, LONG Amount, DWORD Type);
BOOL COM_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn, DWORD dwLenIn, PBYTE pBufOut,
                   DWORD dwLenOut, PDWORD pdwActualOut);
void COM_PowerUp(DWORD_PTR hDeviceContext);
void COM_PowerDown(DWORD_PTR hDeviceContext);

}  // extern "C"

// Set by the relay's initialisation: the real port's and the tap's indexes.
extern DWORD srcIndex;
extern DWORD monIndex;
