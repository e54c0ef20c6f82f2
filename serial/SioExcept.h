// The serial library's exceptions, and the checker that turns a negative result of an
// operation into the exception of its class.
#pragma once

#include "Classes.h"
#include "SysUtils.h"

#include <string>

class ESioException : public Exception {
public:
    // The table text for |code|, else the system's text for that number.
    explicit ESioException(int code);
    explicit ESioException(const std::string& message);
    int ErrorCode;
};

#define SIO_BRANCHES(X) \
    X(EGeneral)         \
    X(EOpenComm)        \
    X(ESerialIO)        \
    X(EModem)           \
    X(ETrigger)         \
    X(EPacket)          \
    X(EProtocol)        \
    X(EINI)             \
    X(EFax)             \
    X(ETapi)            \
    X(ERas)

// LEAF(class, branch, codes...) declares a leaf and maps its codes to it;
// BRANCH(class, codes...) maps codes to a branch that is raised as itself.
#define SIO_CODE_CLASSES(LEAF, BRANCH)                         \
    LEAF(EBadArgument, EGeneral, -1002)                        \
    LEAF(EGotQuitMsg, EGeneral, -1003)                         \
    LEAF(EBufferTooBig, EGeneral, -1004)                       \
    LEAF(EPortNotAssigned, EGeneral, -1005)                    \
    LEAF(EInternal, EGeneral, -1006, -7003, -7006, -7012)      \
    LEAF(EModemNotAssigned, EGeneral, -1007)                   \
    LEAF(EPhonebookNotAssigned, EGeneral, -1008)               \
    LEAF(ECannotUseWithWinSock, EGeneral, -1009)               \
    LEAF(EBadId, EOpenComm, -2001)                             \
    LEAF(EBaudRate, EOpenComm, -2002)                          \
    LEAF(EByteSize, EOpenComm, -2003)                          \
    LEAF(EDefault, EOpenComm, -2004)                           \
    LEAF(EHardware, EOpenComm, -2005)                          \
    LEAF(EMemory, EOpenComm, -2006)                            \
    LEAF(ECommNotOpen, EOpenComm, -2007)                       \
    LEAF(EAlreadyOpen, EOpenComm, -2008)                       \
    LEAF(ENoHandles, EOpenComm, -2009)                         \
    LEAF(ENoTimers, EOpenComm, -2010)                          \
    LEAF(ENoPortSelected, EOpenComm, -2011)                    \
    LEAF(ENotOpenedByTapi, EOpenComm, -2012)                   \
    LEAF(ENullApi, ESerialIO, -3001)                           \
    LEAF(ERegisterHandlerFailed, ESerialIO, -3003)             \
    LEAF(EPutBlockFail, ESerialIO, -3004)                      \
    LEAF(EGetBlockFail, ESerialIO, -3005)                      \
    LEAF(EOutputBufferTooSmall, ESerialIO, -3006)              \
    LEAF(EBufferIsEmpty, ESerialIO, -3007)                     \
    LEAF(ETracingNotEnabled, ESerialIO, -3008)                 \
    LEAF(ELoggingNotEnabled, ESerialIO, -3009)                 \
    LEAF(EBaseAddressNotSet, ESerialIO, -3010)                 \
    LEAF(EModemNotStarted, EModem, -4001)                      \
    LEAF(EModemBusy, EModem, -4002)                            \
    LEAF(EModemNotDialing, EModem, -4003)                      \
    LEAF(ENotDialing, EModem, -4004)                           \
    LEAF(EAlreadyDialing, EModem, -4005)                       \
    LEAF(EModemNotResponding, EModem, -4006)                   \
    LEAF(EModemRejectedCommand, EModem, -4007)                 \
    LEAF(EModemStatusMismatch, EModem, -4008)                  \
    LEAF(ENoMoreTriggers, ETrigger, -5001)                     \
    LEAF(ETriggerTooLong, ETrigger, -5002)                     \
    LEAF(EBadTriggerHandle, ETrigger, -5003)                   \
    /* raised directly by the packet collector, never by the checker */ \
    LEAF(EInvalidProperty, EPacket)                            \
    BRANCH(EProtocol, -6006, -6008, -6009)                     \
    LEAF(EKeyTooLong, EINI, -7001)                             \
    LEAF(EDataTooLarge, EINI, -7002)                           \
    LEAF(EIniWrite, EINI, -7004)                               \
    LEAF(EIniRead, EINI, -7005)                                \
    LEAF(ERecordExists, EINI, -7007)                           \
    LEAF(ERecordNotFound, EINI, -7008)                         \
    LEAF(EDatabaseFull, EINI, -7010)                           \
    LEAF(EDatabaseEmpty, EINI, -7011)                          \
    LEAF(EBadFieldList, EINI, -7013)                           \
    LEAF(EBadFieldForIndex, EINI, -7014)                       \
    LEAF(EFaxBadFormat, EFax, -8001)                           \
    LEAF(EBadGraphicsFormat, EFax, -8002)                      \
    LEAF(EConvertAbort, EFax, -8003)                           \
    LEAF(EUnpackAbort, EFax, -8004)                            \
    LEAF(ECantMakeBitmap, EFax, -8005)                         \
    LEAF(EInvalidPageNumber, EFax, -8053)                      \
    LEAF(EFaxBadMachine, EFax, -8060)                          \
    LEAF(EFaxBadModemResult, EFax, -8061)                      \
    LEAF(EFaxTrainError, EFax, -8062)                          \
    LEAF(EFaxInitError, EFax, -8063)                           \
    LEAF(EFaxBusy, EFax, -8064)                                \
    LEAF(EFaxVoiceCall, EFax, -8065)                           \
    LEAF(EFaxDataCall, EFax, -8066)                            \
    LEAF(EFaxNoDialTone, EFax, -8067)                          \
    LEAF(EFaxNoCarrier, EFax, -8068)                           \
    LEAF(EFaxSessionError, EFax, -8069)                        \
    LEAF(EFaxPageError, EFax, -8070)                           \
    LEAF(ERasLoadFail, ERas, -13980)

// The modem-line leaves ETapi<suffix>, in the order of their codes (SioTapiCodeSpans).
#define SIO_TAPI_LEAVES(X)                                                                                  \
    X(Allocated) X(BadDeviceID) X(BearerModeUnavail) X(CallUnavail) X(CompletionOverrun)                    \
    X(ConferenceFull) X(DialBilling) X(DialDialtone) X(DialPrompt) X(DialQuiet) X(IncompatibleApiVersion)   \
    X(IncompatibleExtVersion) X(IniFileCorrupt) X(InUse) X(InvalAddress) X(InvalAddressID)                  \
    X(InvalAddressMode) X(InvalAddressState) X(InvalAppHandle) X(InvalAppName) X(InvalBearerMode)           \
    X(InvalCallComplMode) X(InvalCallHandle) X(InvalCallParams) X(InvalCallPrivilege) X(InvalCallSelect)    \
    X(InvalCallState) X(InvalCallStatelist) X(InvalCard) X(InvalCompletionID) X(InvalConfCallHandle)        \
    X(InvalConsultCallHandle) X(InvalCountryCode) X(InvalDeviceClass) X(InvalDeviceHandle)                  \
    X(InvalDialParams) X(InvalDigitList) X(InvalDigitMode) X(InvalDigits) X(InvalExtVersion)                \
    X(InvalGroupID) X(InvalLineHandle) X(InvalLineState) X(InvalLocation) X(InvalMediaList)                 \
    X(InvalMediaMode) X(InvalMessageID) X(InvalParam) X(InvalParkID) X(InvalParkMode) X(InvalPointer)       \
    X(InvalPrivSelect) X(InvalRate) X(InvalRequestMode) X(InvalTerminalID) X(InvalTerminalMode)             \
    X(InvalTimeout) X(InvalTone) X(InvalToneList) X(InvalToneMode) X(InvalTransferMode)                     \
    X(LineMapperFailed) X(NoConference) X(NoDevice) X(NoDriver) X(NoMem) X(NoRequest) X(NotOwner)           \
    X(NotRegistered) X(OperationFailed) X(OperationUnavail) X(RateUnavail) X(ResourceUnavail)               \
    X(RequestOverrun) X(StructureTooSmall) X(TargetNotFound) X(TargetSelf) X(Uninitialized)                 \
    X(UserUserInfoTooBig) X(Reinit) X(AddressBlocked) X(BillingRejected) X(InvalFeature)                    \
    X(NoMultipleInstance) X(Busy) X(NotSet) X(NoSelect) X(LoadFail) X(GetAddrFail) X(VoiceNotSupported)     \
    X(WaveFail) X(TranslateFail)

// The codes of the modem-line leaves, closed ranges walked from `first` to `last`.
struct SioCodeSpan {
    int first;
    int last;
};
inline constexpr SioCodeSpan SioTapiCodeSpans[] = {
    {-13801, -13803}, {-13805, -13848}, {-13850, -13886}, {-13928, -13932}, {-13935, -13936}, {-13942, -13942},
};

#define SIO_DECLARE_BRANCH(name)                  \
    class name : public ESioException {           \
    public:                                       \
        using ESioException::ESioException;       \
    };
#define SIO_DECLARE_LEAF(name, branch, ...) \
    class name : public branch {            \
    public:                                 \
        using branch::branch;               \
    };
#define SIO_DECLARE_NOTHING(...)
#define SIO_DECLARE_TAPI_LEAF(suffix)     \
    class ETapi##suffix : public ETapi {  \
    public:                               \
        using ETapi::ETapi;               \
    };

SIO_BRANCHES(SIO_DECLARE_BRANCH)
SIO_CODE_CLASSES(SIO_DECLARE_LEAF, SIO_DECLARE_NOTHING)
SIO_TAPI_LEAVES(SIO_DECLARE_TAPI_LEAF)

#undef SIO_DECLARE_BRANCH
#undef SIO_DECLARE_LEAF
#undef SIO_DECLARE_NOTHING
#undef SIO_DECLARE_TAPI_LEAF

// A system message as the exception carries it: at most 255 characters, each control
// character a blank.
std::string SioSystemTextLine(const std::string& text);

// Returns a code of 0 or above, and every code while `component` is being loaded; raises
// the exception of a negative code otherwise. `component` may be null.
int SioCheck(const TComponent* component, int code);
