#include "help.h"

#include <ostream>

namespace lumabridge {

namespace {

// Written in this order, each as it stands.
const char* const kHelpTexts[] = {
    "The Lumabridge is an application that makes the loMar3D scanners compatible with any GigE compatible client. The application is console based. It is Windows and Linux compatible.\n\n",
    "Available options:\n\n",
    " -i [SCANNER_IP] the IP address of the loMar3D scanner.\n\n",
    " -s [SERVER_IP] the IP address of the server, to which the application connects.\n(Windows) The user defines the interface the server should be connected to (see -n).(Linux) unlike windows, the user in linux can use any IP to connect the server. The user, however, should add this IP to the system manually\n\n",
    " -n [X] (only windows) the interface index, thorugh which the application connects.\nIf the server IP given by the option -s is not registered in the system, the server will add this IP to the system\n(requires to run the application as system adminstrator).\n\n",
    " -r enable auto connect to the scanner. If this mode is enabled and a disconnected state is detected, the application will try to reconnect to the scanner for unlimited time. Otherwise the application will end itself\n\n",
    " -d print out in the console debug messages. The debug messages are the comands sent and received from the client.\n\n",
    " -f [FILENAME] print the debug messages into an external file. The debug messages are the commands sent and received from the client.\n\n",
    " -u [USERNAME] set the user defined name in the scanner (Only in FW 1.1.x and higher).\n\n",
    " -p [X] save X scans  into a PCL compatible file format. The point cloud is saved after receiving the StartAcquisition command from the client.\nThe new point cloud will overwrite the old one.\n\n",
    " -t [TIMEOUT] set the profile receive timeout. If the Lumabridge did not receive a profile from the scanner within timeout; the application sends the GigE image to the network without waitingthe height of the image to complete. Default value for timeout is 1000 [ms]. Set timeout to 0 to disable timeout.\n\n",
    " -w [FILENAME] set the name of the PCL compatible file, if not given; a file with default name (ScanData.txt) is used.\n\n",
    " -h print out the help text.\n\n",
    "For more Info, please refer to the Lumabridge user manual\n\n",
    "Below is a list of inteface indeces and their main IPs in this system:\n",
};

}  // namespace

void PrintHelp(std::ostream& err)
{
    for (const char* text : kHelpTexts)
        err << text;
}

void PrintInterfaces(const std::vector<std::string>& interfaces, std::ostream& err)
{
    for (size_t i = 0; i < interfaces.size(); ++i)
        err << "Interface " << i << "  IP: " << interfaces[i] << std::endl;
}

}  // namespace lumabridge
