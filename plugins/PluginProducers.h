// Enters the plug-in producers into the server's producer table.
#pragma once

// At start-up, on the main thread, before any listener starts.
void RegisterPluginProducers();
