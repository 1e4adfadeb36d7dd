#pragma once
// Lists every serial port: COM number where it has one, device, description,
// USB vendor/product id and serial number. Returns the exit code.
int ListPorts();
