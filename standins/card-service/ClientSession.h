#pragma once

#include "FuzzAnswers.h"
#include "PipeServer.h"

#include "Sectorix/ServiceProtocol.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCardVolume;
class CPipeInstance;
class CServiceOptions;

// One client's connection: reads its requests in turn and answers each
// as the service of the configured version would, or as the configured
// faults say, until the client goes or the stand-in ends.
class CClientSession
{
public:
    CClientSession(SServiceContext& context, std::unique_ptr<CPipeInstance> pipe, DWORD index);
    ~CClientSession();
    CClientSession(const CClientSession&) = delete;
    CClientSession& operator=(const CClientSession&) = delete;

    void Run();

private:
    bool Receive(std::vector<BYTE>& message);
    bool Parse(const std::vector<BYTE>& message, SECTORIX_HEADERS& request) const;
    DWORD ExpectedSize(signed char cmd) const;
    const CCardVolume* Find(BYTE volume) const;
    bool Serve(const std::vector<BYTE>& message);
    bool Answer(const SECTORIX_HEADERS& request, const std::vector<BYTE>& data);
    bool AnswerVersion();
    bool AnswerArp(const SECTORIX_ARP& request);
    bool AnswerDriveLetter(const SECTORIX_DRIVE_LETTER& request);
    bool AnswerCard(const SECTORIX_CARD& request, const CCardVolume& volume);
    bool AnswerRead(const SECTORIX_SECTORS& request, const CCardVolume& volume);
    bool AnswerFuzzed(DWORD count);
    bool AnswerWrite(const SECTORIX_SECTORS& request, const std::vector<BYTE>& data, const CCardVolume& volume);
    bool SendSplit(const CCardVolume& volume, DWORD first, DWORD count);
    bool SendSectors(const CCardVolume& volume, DWORD first, DWORD count, size_t dataSent = SIZE_MAX);
    bool SendSectorData(const CCardVolume& volume, DWORD first, DWORD count);
    bool SendMisSized(SECTORIX_SECTORS header, DWORD size);
    bool SendText(_eServiceCmd cmd, const std::string& text);
    bool SendError(const std::string& text);
    bool SendAnswer(SECTORIX_HEADER* pAnswer, DWORD size);
    bool Send(const void* pData, size_t size);

    SServiceContext& m_context;
    const CServiceOptions& m_options;
    std::unique_ptr<CPipeInstance> m_pipe;
    DWORD m_index;
    CFuzzAnswers m_fuzz;
    bool m_bForwardLog = false;
    std::string m_logLine;
};
