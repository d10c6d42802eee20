#pragma once

class VUpdateEngine;

// The updater program's life around VUpdateEngine: what runs when the image is loaded and at exit, and the run
// itself with its exit status.

// Load time: makes the memory manager when it is still missing and registers UpdaterFinalizer for exit.
void UpdaterInitializer();

// Exit time: clears the process singleton. The memory manager stays: static objects made before this was
// registered are destroyed after it and still free their blocks through it.
void UpdaterFinalizer();

// Brings the updater up (arguments from vela::sProcessCommandLineArgc/Argv), runs the update on the main task
// and answers the exit status: 0 after a successful run, --help or --version; 1 when start-up failed or the
// command line was refused; 2 when the run left an error.
int UpdaterMain();

// Runs the update of an engine whose Init succeeded and answers the exit status: 0 when the run left no error,
// 1 when Run found the start-up failed, 2 for any other error, and 2 when the process was asked to quit before
// the run began (nothing was updated).
int RunUpdate(VUpdateEngine& engine);
