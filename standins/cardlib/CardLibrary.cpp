#include "CardLibrary.h"

#include <algorithm>

namespace cs = CardLibStandin;

CCardLibrary::CCardLibrary()
{
    ::InitializeCriticalSection(&m_lock);
}

CCardLibrary::~CCardLibrary()
{
    ::DeleteCriticalSection(&m_lock);
}

int CCardLibrary::Control(int op, UINT_PTR value, const void* data)
{
    const wchar_t* entry = static_cast<const wchar_t*>(data);
    switch (op)
    {
    case cs::SetAnswer:
        m_gate.SetAnswer(entry, static_cast<DWORD>(value));
        return 1;
    case cs::ClearAnswer:
        m_gate.ClearAnswer(entry);
        return 1;
    case cs::HoldEntry:
        m_gate.Hold(entry, static_cast<DWORD>(value));
        return 1;
    case cs::WaitHeld:
        return m_gate.WaitHeld(static_cast<DWORD>(value));
    case cs::Release:
        m_gate.Release();
        return 1;
    case cs::GetCalls:
        return static_cast<int>(m_record.Copy(static_cast<wchar_t*>(const_cast<void*>(data)), value));
    case cs::ClearCalls:
        m_record.Clear();
        return 1;
    default:
        return ControlHalves(op, value, data);
    }
}

// The operations on the state that the entries share, under their lock.
int CCardLibrary::ControlHalves(int op, UINT_PTR value, const void* data)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    CScopedLock lock(m_lock);
    switch (op)
    {
    case cs::SetSockets:
        m_reader.SetSockets(static_cast<const WORD*>(data), value);
        return 1;
    case cs::InsertMedium:
        m_reader.InsertMedium(static_cast<DWORD>(value), *static_cast<const DWORD*>(data));
        return 1;
    case cs::RemoveMedium:
        m_reader.RemoveMedium(static_cast<DWORD>(value));
        return 1;
    case cs::SetCardImage:
        m_reader.SetCardImage(static_cast<const wchar_t*>(data));
        return 1;
    case cs::AppendOnReadBack:
        m_reader.AppendOnReadBack(bytes, value);
        return 1;
    case cs::SetConfig:
        m_recorder.SetConfig(bytes);
        return 1;
    case cs::GetConfig:
        std::copy(m_recorder.Config(), m_recorder.Config() + cs::ConfigSize,
                  static_cast<BYTE*>(const_cast<void*>(data)));
        return 1;
    case cs::SetExtraInfo:
        m_recorder.SetExtraInfo(bytes, value);
        return 1;
    case cs::GetExtraInfo:
    {
        const std::vector<BYTE>& extra = m_recorder.ExtraInfo();
        std::copy_n(extra.begin(), std::min<size_t>(extra.size(), value), static_cast<BYTE*>(const_cast<void*>(data)));
        return static_cast<int>(extra.size());
    }
    case cs::SetFormatWork:
        m_recorder.SetFormatWork(static_cast<DWORD>(value));
        return 1;
    case cs::SetFormatStep:
        m_recorder.SetFormatStep(static_cast<DWORD>(value));
        return 1;
    case cs::Reset:
        m_reader = CCardReader();
        m_recorder = CDataRecorder();
        m_gate.Reset();
        m_record.Clear();
        return 1;
    default:
        return 0;
    }
}
