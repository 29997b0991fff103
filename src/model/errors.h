// The error and warning list: 26 numbered codes, each with a type, a title and
// a text; subsystems add and remove codes, key 1 acknowledges them.
#pragma once
struct Works;

constexpr int kErrTypeAlarm = 1;      // drawn red, else orange
constexpr int kErrTypeProtection = 2; // adding it requests a protection reset
constexpr int kErrTypeTemporary = 4;  // removed by the temporary clean-up

constexpr int kErrCatNoAnswer = 25; // the FT-817 does not answer (port gone, or silent)
constexpr int kErrRigctld = 26; // the rig daemon does not answer (a warning)

// Fills the description table (codes 0-25) and the run-time texts of 4 and 15.
void InitErrTab(Works *works);
// The second line of a code's box (the run-time texts for codes 4 and 15).
const char *ErrText(Works *works, int code);

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
