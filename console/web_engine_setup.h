#pragma once

// What the embedded browser needs before the application object exists.
// Every program that shows the report viewer calls it first thing in main.
void PrepareWebEngine();
