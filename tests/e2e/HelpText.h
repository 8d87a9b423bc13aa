#pragma once
// The help text as the program must print it, line by line.
#include <string>

namespace e2e {

inline const char* const kHelpLines[] = {
    "Welcome to the Velmar Util Tool!",
    "This is a simple command line tool to perform several content management functions to install/delete/modify assets.",
    "----------------------------------------------------------",
    "VelmarUtil help - Display this help text.",
    "VelmarUtil version - Display the VelmarUtil build version.",
    "VelmarUtil echo <text> - Echo the supplied text.",
    "VelmarUtil setlanguage <langCode> - Set the Velmar language to the language code supplied (eg. US, FR, RU, etc).",
    "VelmarUtil installCDP <PATH> - Install an asset from a CDP file.",
    "VelmarUtil installfrompath <PATH> - Install an asset from a directory.",
    "VelmarUtil edit <KUID> - Open an asset for editing.",
    "VelmarUtil printconfig <KUID> - Print a config file to stdout.",
    "VelmarUtil backupkeywords - Backup all the keywords of your assets.",
    "VelmarUtil importkeywords - Import keywords into the Velmar Asset Database.",
    "VelmarUtil commit <KUID> - Commit any edits that have been made to the specified asset.",
    "VelmarUtil revert <KUID> - Discard any edits that have been made to the specified asset.",
    "VelmarUtil delete <KUID> - Delete the specified asset from disk.",
    "VelmarUtil generateKUID - Generate a new KUID number in the local user's KUID range.",
    "VelmarUtil createCDP <Output Filename.cdp> <kuid1> <kuid2> <kuidX> ... - Export assets to a CDP file.",
    "VelmarUtil repairdatabase - Repairs the Velmar Asset Database.",
    "VelmarUtil authors - List of all the authorIDs that have content in the game.",
    "VelmarUtil searchbycategory [-a] <CatgoryList>  - List all the local assets with a category set in this format, "
    "\"CMP;MESH|BD;-ACTV|VE|SCEN\". Use the -a parameter if you want to search the download station as well.",
    "VelmarUtil importconsists <PATH> - Import an old style Mapwright consist list, creating consist assets for any "
    "unknown entries.",
    "VelmarUtil status <KUID> - Print the status of the specified asset.",
    "\tThis will output <KUID> : <Flags> : <category> : <username> where flags are a series of letters with case "
    "indicating boolean state. (Capital letters are flagged true and lowercase are flagged false.)",
    "\tEe - The asset is open for edit.",
    "\tIi - The asset is installed locally.",
    "\tAa - The asset is archived.",
    "\tDd - The asset is on the download station.",
    "\tLl - The asset is locally modified.",
    "\tMm - The asset has missing dependencies.",
    "\tEe - The asset has errors.",
    "VelmarUtil validate <KUID> - Perform validation and display any errors or warnings relating to this asset.",
    "VelmarUtil compile <PATH> - Compile a script file.",
    "\t<-d>       Display vozovavuri documentation.",
    "\t<-s>       Silent mode.",
    "\t<-bPATH>   Specify a filepath for the compile log.",
    "\t<-pPATH>   Specify the output directory.",
    "\t<-oPATH>   Specify the output library filename.",
    "\t<PATH>     Input source file.",
    "\t<-iPATH>   Additional include path.",
    "VelmarUtil encrypt <PATH> - Encrypt a script file (gs --> gse).",
    "VelmarUtil @<file.txt> - Batch-execute a series of commands from the specified text file (every argument must be "
    "between double quotes.) Every line of that text file will be processed like a separate call to VelmarUtil.",
};

// Each line with its line feed.
inline const std::string kHelpText = [] {
  std::string text;
  for (const char* line : kHelpLines) text += std::string(line) + "\n";
  return text;
}();

} // namespace e2e
