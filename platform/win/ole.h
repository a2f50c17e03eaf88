#pragma once
// OLE start-up of a thread. No component object model exists here: objects
// that would talk to one hold our own stand-ins. What stays is the per-thread
// count of OleInitialize calls, which every caller balances with
// OleUninitialize, so a test can see that an object left the thread as it
// found it.
#include "platform/win/win_types.h"

// Results of the component calls, with their documented values.
using HRESULT = LONG;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

// S_OK for the thread's first call, S_FALSE for a nested one; both must be
// balanced. reserved must be null.
HRESULT OleInitialize(void* reserved);
// Ends one OleInitialize of this thread; a call without one does nothing.
void OleUninitialize();
// OleInitialize calls of this thread not yet balanced.
int OleInitCount();
