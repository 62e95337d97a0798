#pragma once

#include "afx/Object.h"

class CCmdTarget;

// A message-map entry binds a message number to a thunk that casts the
// target to the class of the map and calls its handler with the handler's
// own signature, so every binding is checked by the compiler.
typedef LRESULT (*AFX_PMSG)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class AFX_API CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    virtual const AFX_MSGMAP* GetMessageMap() const;

protected:
    CCmdTarget() = default;

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage) const;
};

#define DECLARE_MESSAGE_MAP() \
protected: \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass) \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() \
    { \
        using ThisClass [[maybe_unused]] = theClass; \
        using TheBaseClass = baseClass; \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP() \
            { 0, nullptr } \
        }; \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] }; \
        return &messageMap; \
    }

#define AFX_MSG_THUNK(body) \
    [](CCmdTarget* pTarget, [[maybe_unused]] WPARAM wParam, [[maybe_unused]] LPARAM lParam) -> LRESULT \
    { ThisClass* pThis = static_cast<ThisClass*>(pTarget); body }

// LRESULT OnMessage(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn) \
    { message, AFX_MSG_THUNK(return pThis->memberFxn(wParam, lParam);) },

// void OnMessage(WPARAM, LPARAM), for messages posted to a thread
#define ON_THREAD_MESSAGE(message, memberFxn) \
    { message, AFX_MSG_THUNK(pThis->memberFxn(wParam, lParam); return 0;) },

#define ON_WM_CREATE() \
    { WM_CREATE, AFX_MSG_THUNK(return pThis->OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));) },

#define ON_WM_DESTROY() \
    { WM_DESTROY, AFX_MSG_THUNK(pThis->OnDestroy(); return 0;) },

#define ON_WM_TIMER() \
    { WM_TIMER, AFX_MSG_THUNK(pThis->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;) },

#define ON_WM_DEVICECHANGE() \
    { WM_DEVICECHANGE, \
      AFX_MSG_THUNK(return pThis->OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));) },
