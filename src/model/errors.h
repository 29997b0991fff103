// The error and warning list: 28 numbered codes, each with a type, a title and
// a text; subsystems add and remove codes, key 1 acknowledges them.
#pragma once
#include <string>

struct Works;

constexpr int kErrTypeAlarm = 1;      // drawn red, else orange
constexpr int kErrTypeProtection = 2; // adding it requests a protection reset
constexpr int kErrTypeTemporary = 4;  // removed by the temporary clean-up

// The error and warning codes; their kind, title and text are the table in
// errors.cpp, one row per code in this order.
enum ErrCode : int {
    kErrTemp1AlarmEnded = 0,  // temperature 1 back below its threshold after an alarm
    kErrHighSwr = 1,          // the board reports high SWR
    kErrTemp1Alarm = 2,       // temperature 1 above its alarm threshold
    kErrInputPower = 3,       // drive power at the input while it must not be
    kErrBoardComm = 4,        // a board command failed after its retries
    kErrRemoteUsb = 5,        // the TAV spectrum reader stopped, or no transceiver
    kErrAudioNotFound = 6,    // remote operation found no audio device
    kErrTavNotSelected = 7,   // remote operation without the TAV interface
    kErrTavExtIo = 8,         // the TAV serial link timed out
    kErrAudioRead = 9,        // the audio capture thread ended
    kErrAudioWrite = 10,      // the audio playback thread ended
    kErrWebSocket = 11,       // (raised by nothing)
    kErrTuneTimeout = 12,     // a tune used its cycles, no target SWR set
    kErrTuneSwrWarning = 13,  // a tune used its cycles, target SWR set
    kErrTuneTavAbort = 14,    // the TAV transceiver ended a tune
    kErrProtectionTrip = 15,  // a board protection tripped (text: its name)
    kErrMicroReset = 16,      // the board's micro restarted
    kErrCmdNotAvailable = 17, // the attenuator key while bypassed in transmission
    kErrTuneMaxSwr = 18,      // a tune ended with its best SWR above 6
    kErrBandStandby = 19,     // the board went to standby over a band
    kErrRemoteCat = 20,       // the CAT pass-through thread ended
    kErrTemp2AlarmEnded = 21, // temperature 2 back below its threshold after an alarm
    kErrTemp2Alarm = 22,      // temperature 2 above its alarm threshold
    kErrTemp1Warning = 23,    // temperature 1 near its alarm threshold
    kErrTemp2Warning = 24,    // temperature 2 near its alarm threshold
    kErrCatNoAnswer = 25,     // the FT-817 does not answer (port gone, or silent)
    kErrRigctld = 26,         // the rig daemon does not answer (a warning)
    kErrLogger = 27,          // no valid datagram from the logging program for 15 s (a warning)
};

// Fills the description table and the run-time texts of kErrBoardComm and
// kErrProtectionTrip.
void InitErrTab(Works *works);
// The second line of a code's box (the run-time texts of kErrBoardComm and
// kErrProtectionTrip copied under the list's lock).
std::string ErrText(Works *works, int code);
// Sets the run-time text of kErrBoardComm or kErrProtectionTrip (the
// power-board link).
void SetErrDetail(Works *works, int code, const char *text);

void AddErrore(Works *works, int code);
void DeleteErrore(Works *works, int code);
int ExistError(Works *works, int code);
int ExistAnError(Works *works);
// Copies the list (oldest first) into `codes`; returns the number of entries.
int ErrListSnapshot(Works *works, int codes[]);
int VerifyError(Works *works);
void VerifyWarningTemporanei(Works *works);
void VerifyWarningTemporaneiDopoResetBias(Works *works);
void ResetBiasCmd(Works *works);
void VerificaEsistonoErrori(Works *works);
void ClearDisplayError(Works *works);
void GestErrore(Works *works);
void GestErroreSerial(Works *works);
void GestErroreRemote(Works *works);
int GPIO_Errori(Works *works);

// A link whose port failed to open (kPortLinear...): its failure is kept
// until the operator answers it, and shown at once when no other is shown.
void ReportPortError(Works *works, int link, const char *text);
// The supervisor: shows the next failure not yet answered; true when one is shown.
bool ShowNextPortError(Works *works);
// The keys (Retry, Cancel): the shown failure is answered; returns its link or 0.
int AnswerPortError(Works *works);
