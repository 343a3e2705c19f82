@echo off
rem placeholder
