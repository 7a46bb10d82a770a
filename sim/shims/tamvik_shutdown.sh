#!/bin/sh
# The system image's shutdown script; in the simulated appliance it only records
# that it ran.
echo "$*" >>/sim/calls/shutdown.log
