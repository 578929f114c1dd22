// Connects the sensor link's reports and the start-up exchange's set reader to the panels.
#pragma once

void ConnectLinkToPanels(void);
