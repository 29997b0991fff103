#include "app/hooks.h"

#include "app/threads.h"
#include "config/filter_table.h"
#include "model/hooks.h"
#include "supervisor/antenna.h"
#include "supervisor/thresholds.h"
#include "transceiver/cat.h"
#include "ui/bank.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/mode.h"

void InstallHooks() {
    hooks.StartThreadLinear = StartThreadLinear;
    hooks.StartThreadTAV = StartThreadTAV;
    hooks.StartThreadCAT = StartThreadCAT;
    hooks.StartThreadCATserial = StartThreadCATserial;
    hooks.StartThreadAudioRead = StartThreadAudioRead;
    hooks.StartThreadAudioWrite = StartThreadAudioWrite;
    hooks.StartTavReadFFT = StartTavReadFFT;
    hooks.StartThreadSoket = StartThreadSoket;
    hooks.StartThreadRigctl = StartThreadRigctl;
    hooks.StartThreadLogger = StartThreadLogger;
    hooks.StartThreadCommRemote = StartThreadCommRemote;
    hooks.ExitThreadRemote = ExitThreadRemote;
    hooks.ExitCAT = ExitCAT;
    hooks.SetFilterFromfreq = SetFilterFromfreq;
    hooks.SearchCambioSoglie_TS = SearchCambioSoglie_TS;
    hooks.ChangeBanco = ChangeBanco;
    hooks.ChangeBancoUnsaved = ChangeBancoUnsaved;
    hooks.SetModeWorkIDX = SetModeWorkIDX;
    hooks.GestioneLoadTuneVal = GestioneLoadTuneVal;
    hooks.TuneModeLabel = TuneModeLabel;
    hooks.AmplifierStandby = AmplifierStandby;
}
