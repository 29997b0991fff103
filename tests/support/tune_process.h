// The controller with the simulated board (its tuner model on a fixed load)
// and a radio, stopped controller first, then radio, then board, however a
// test ends.
#pragma once

#include "board.h"
#include "helix_process.h"
#include "radio.h"

#include <string>

struct TuneProcess {
    SimBoard board;
    SimRadio *radio = nullptr;
    bool boardUp = false;
    struct Stops {
        TuneProcess *rig;
        ~Stops() {
            if (rig->radio != nullptr) SimRadioStop(rig->radio);
            if (rig->boardUp) SimBoardStop(&rig->board);
        }
    } stops{this};
    HelixProcess p;

    // Board on R + jX ohm, the radio, then the controller in `root`; false
    // when one of them does not start.
    bool Start(const std::string &root, double r, double x, SimRadioConfig cfg) {
        if (SimBoardStart(&board, root) != 0) return false;
        boardUp = true;
        SimBoardSet(&board, [r, x](SimBoardState &st) {
            st.tunerModel = true;
            st.load = SimLoad{SimLoadKind::Fixed, r, x};
        });
        cfg.root = root;
        if ((radio = SimRadioStart(cfg)) == nullptr) return false;
        return p.Start(root + "/err.txt");
    }
    // The end of the controller's standard error.
    std::string Tail() {
        std::string e = p.Err();
        return e.substr(e.size() > 4000 ? e.size() - 4000 : 0);
    }
};
