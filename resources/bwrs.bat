@echo OFF
rem placeholder
