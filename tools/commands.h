/* The subcommands of the flatav tool: each takes the arguments after its
 * name and returns the process exit status. */
#ifndef FLATAV_TOOL_COMMANDS_H
#define FLATAV_TOOL_COMMANDS_H

int cmd_info(int argc, char **argv);
int cmd_decode(int argc, char **argv);
int cmd_probe(int argc, char **argv);
int cmd_copy(int argc, char **argv);
int cmd_mlp(int argc, char **argv);
int cmd_transcode(int argc, char **argv);
int cmd_encoders(int argc, char **argv);
int cmd_filters(int argc, char **argv);

#endif
