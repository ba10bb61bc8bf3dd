// The configuration dialog's Help command: opens the module's help file at
// its context number, located through the product family's paths component.
#pragma once

// Looks for the help file through the paths component (used only when what
// it names exists), else keeps the bare file name, and asks HTML Help for the
// topic. The component is created and released within the call; nothing is
// reported when help cannot be shown. Out of memory raises the framework's
// memory exception.
void ShowModuleHelp();
